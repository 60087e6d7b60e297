// The program's control flow: start-up checks and the two passes over the
// capture file.
#pragma once

#include <pcap/pcap.h>

namespace dhcpident {

inline constexpr const char capture_path[] = "/tmp/capfileall.pcap";
inline constexpr const char unprivileged_account[] = "nobody";

enum class pass_outcome {
    completed,    // every frame of the file was handled
    open_failed,  // the capture could not be opened; the error is written
    interrupted,  // a termination signal arrived; stop and summarise
};

// Opens the capture for one pass, or gives null with the reason in
// error_text (PCAP_ERRBUF_SIZE bytes). context is the opener's own.
using capture_opener = pcap_t* (*)(const void* context, char* error_text);

// The two passes over the_run: the first counts the target's requests, the
// second reports. Each opens the capture anew, sets the link header length
// from its link type and hands every frame to the per-frame handler. Stops
// at a failed open, with "Error: Unable to open device" and the reason
// written, or at a termination signal. The program's opener drops to the
// unprivileged account and opens the fixed path; tests and fuzzers give
// captures of their own.
pass_outcome run_capture_passes(capture_opener open, const void* context);

struct client_table;

// The one pass of --all over the_run: every client's last request into
// table, to be printed once the pass has completed.
pass_outcome run_all_clients_pass(capture_opener open, const void* context, client_table& table);

// Handler for SIGHUP, SIGINT and SIGTERM: records the signal and stops the
// capture loop; the main flow finishes the frame in hand and summarises.
void on_shutdown_signal(int signal_number);

// The whole program: returns its exit status.
int run_dhcpident(int argc, char** argv);

}  // namespace dhcpident
