// Termination signals (SIGHUP, SIGINT, SIGTERM) and the summary they end
// in. The handler only records the signal and stops the capture loop; the
// main flow finishes the frame in hand, and a report in hand, then prints
// the summary. From the first signal the program has 1 s to write them:
// past that, with stdout held by a reader that takes nothing, it writes
// "Error: Unable to write the report: ..." and exits with status 1.
#pragma once

#include <pcap/pcap.h>

namespace dhcpident {

void install_shutdown_handlers();

// The handler: records the signal, breaks the loop of the watched capture
// and, the first time, starts the 1 s for the output.
void on_shutdown_signal(int signal_number);

// True once a termination signal has arrived.
bool shutdown_requested();

// The capture whose loop a signal breaks, while a pass reads it; null when
// none is read.
void watch_capture(pcap_t* capture);

// True when a termination signal has arrived or arrives from now on until
// the exit: from here the signals are blocked, and one that comes is held
// pending, where it is seen too.
bool shutdown_signalled_by_exit();

// Prints the summary of the run: "Processed N DHCP requests." behind
// "Signal received. Shutdown.", or one JSON line. Returns the exit status:
// 0, or 1 when the output was lost.
int print_shutdown_summary();

}  // namespace dhcpident
