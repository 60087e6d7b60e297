// A whole capture file, any bytes, through both passes of the reader,
// through the one pass of --all with its reports, in text or JSON,
// and through the capture service's -r: its frames kept, at a small bound
// that drops, and written as a capture to /dev/null. The file is read
// from memory: the program's fixed path and its privilege drop stay out of
// the fuzzer.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "capture_memory.h"
#include "dhcp/all_clients.h"
#include "dhcp/hash_key.h"
#include "reader/capture_pass.h"
#include "service/capture_file.h"

using namespace dhcpident;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const report_format format = size % 2 == 0 ? report_format::text : report_format::json;
    start_run("00:1a:2b:3c:4d:5e", format);
    const capture_bytes capture{data, size};
    run_capture_passes(open_capture_bytes, &capture);

    start_run(nullptr, format);
    all_clients clients{create_request_table({64, default_max_memory}, random_hash_key()), false};
    if (clients.table != nullptr &&
        run_all_clients_pass(open_capture_bytes, &capture, clients) == pass_outcome::completed) {
        print_client_reports(*clients.table, format);
    }
    destroy_client_table(clients.table);

    char error_text[PCAP_ERRBUF_SIZE];
    if (pcap_t* input = open_capture_bytes(&capture, error_text)) {
        frame_store store = make_frame_store({8, 64 << 10}, pcap_datalink(input), 0, 2048);
        if (store.table != nullptr) {
            read_frames(input, store);
            static const int null_fd = open("/dev/null", O_WRONLY);
            write_capture(null_fd, store);
        }
        destroy_client_table(store.table);
        pcap_close(input);
    }
    return 0;
}
