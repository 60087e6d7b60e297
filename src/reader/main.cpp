#include "reader/entry.h"

int main(int argc, char** argv) { return dhcpident::run_dhcpident(argc, argv); }
