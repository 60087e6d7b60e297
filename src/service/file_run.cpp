#include "service/file_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "service/capture_file.h"

namespace dhcpident {
namespace {

// libpcap's largest snap length for nearly every link type; a few (D-Bus,
// USB) allow more, and a file's header may say so.
constexpr std::size_t usual_largest_frame = 262144;

// The largest frame the store takes: the file's snap length when it is
// smaller than libpcap's usual largest, else that, and never more than a
// quarter of the budget, so that a chunk of the table can hold one and
// the budget still holds its index: a frame larger than that is refused
// as larger than --max-memory holds, not every frame with it.
std::size_t largest_frame(pcap_t* input, std::size_t budget) {
    const int snapshot = pcap_snapshot(input);
    const std::size_t largest = snapshot > 0 && static_cast<std::size_t>(snapshot) < usual_largest_frame
                                    ? static_cast<std::size_t>(snapshot)
                                    : usual_largest_frame;
    return largest < budget / 4 ? largest : budget / 4;
}

}  // namespace

int run_from_file(const service_options& options) {
    char error_text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* input = pcap_open_offline(options.input, error_text);
    if (input == nullptr) {
        say("Error: Unable to open capture %s\n", error_text);
        return 1;
    }
    frame_store store = make_frame_store(options.limits, pcap_datalink(input), 0,
                                         largest_frame(input, options.limits.max_memory));
    if (store.table == nullptr) {
        say("Error: Out of memory\n");
        pcap_close(input);
        return 1;
    }
    if (!read_frames(input, store)) {
        say("Warning: Unable to read all of %s: %s\n", options.input,
                     pcap_geterr(input));
    }
    pcap_close(input);
    tell_losses(store, 0, true);
    const bool published = publish_capture(options.output, store);
    if (!published) {
        say_unable_to_write(options.output);
    }
    destroy_client_table(store.table);
    return published ? 0 : 1;
}

}  // namespace dhcpident
