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

// The part of a pass after the open and the privilege drop: sets the link
// header length from the capture's link type, hands every frame to the
// per-frame handler and closes the capture. Also the entry for tests and
// fuzzing, which open captures of their own.
pass_outcome run_opened_capture(pcap_t* capture);

// Opens the capture at path, drops to the unprivileged account, sets the
// link header length and hands every frame to the per-frame handler.
pass_outcome run_capture_pass(const char* path);

// Handler for SIGHUP, SIGINT and SIGTERM: records the signal and stops the
// capture loop; the main flow finishes the frame in hand and summarises.
void on_shutdown_signal(int signal_number);

// The whole program: returns its exit status.
int run_dhcpident(int argc, char** argv);

}  // namespace dhcpident
