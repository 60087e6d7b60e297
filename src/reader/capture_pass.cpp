#include "reader/capture_pass.h"

#include <cstdio>

#include "base/diagnostics.h"
#include "common/account.h"
#include "common/capture_open.h"
#include "common/link_type.h"
#include "reader/capture_run.h"
#include "reader/shutdown.h"

namespace dhcpident {
namespace {

// One pass: opens the capture, sets the link header length from its link
// type, hands every frame to handler and closes the capture.
pass_outcome run_pass(capture_opener open, const void* context, pcap_handler handler,
                      u_char* user) {
    if (shutdown_requested()) return pass_outcome::interrupted;
    char error_text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* capture = open(context, error_text);
    if (capture == nullptr) {
        say("Error: Unable to open device %s\n", error_text);
        return pass_outcome::open_failed;
    }
    // Watched before the flag is tested again: a signal from here on
    // breaks the loop, one before it is seen below.
    watch_capture(capture);
    set_link_header_len(pcap_datalink(capture), the_run.link_header_len);
    // A read error inside the file just ends the pass, as the end does. The
    // pass is interrupted only when a signal broke the loop: one that comes
    // once every frame was handled finds the pass complete, and is seen
    // when the program ends.
    const bool broken =
        shutdown_requested() || pcap_loop(capture, -1, handler, user) == PCAP_ERROR_BREAK;
    watch_capture(nullptr);
    pcap_close(capture);
    return broken ? pass_outcome::interrupted : pass_outcome::completed;
}

}  // namespace

pcap_t* drop_privileges_and_open_fixed_capture(const void*, char* error_text) {
    drop_user_to_nobody();
    return open_capture(capture_path, reader_open_rules, error_text);
}

void handle_packet(u_char*, const pcap_pkthdr* header, const u_char* bytes) {
    handle_frame(byte_view(bytes, header->caplen), the_run);
}

void handle_packet_all(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    handle_frame_all(byte_view(bytes, header->caplen), the_run,
                     *reinterpret_cast<all_clients*>(user));
}

void start_run(const char* target, report_format format) {
    the_run = capture_run{};
    the_run.format = format;
    if (target != nullptr) set_target_mac(the_run, target);
}

capture_run run_state() { return the_run; }

pass_outcome run_capture_passes(capture_opener open, const void* context) {
    for (std::int32_t pass = 0; pass < 2; ++pass) {
        the_run.pass_index = pass;
        const pass_outcome outcome = run_pass(open, context, handle_packet, nullptr);
        if (outcome != pass_outcome::completed) return outcome;
    }
    return pass_outcome::completed;
}

pass_outcome run_all_clients_pass(capture_opener open, const void* context, all_clients& clients) {
    return run_pass(open, context, handle_packet_all, reinterpret_cast<u_char*>(&clients));
}

}  // namespace dhcpident
