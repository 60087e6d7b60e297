#include "service/entry.h"

int main(int argc, char** argv) { return dhcpident::run_dhcpident_capture(argc, argv); }
