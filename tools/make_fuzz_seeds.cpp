// Writes the fuzzers' seed corpora into OUT/frame, OUT/capture and
// OUT/prints: frames and captures built by the test kit, plus, when a
// directory of capture files is given, the frames of those captures (the
// first few of each file and every one that decodes with a message type).
#include <dirent.h>
#include <pcap/pcap.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_writer.h"
#include "dhcp/dhcp_request.h"
#include "common/link_type.h"
#include "frame_builder.h"
#include "fuzz_input.h"

using namespace testkit;

namespace {

int written = 0;

void write_file(const std::string& path, const std::string& data) {
    if (save(path, data)) ++written;
}

void write_frame_seed(const std::string& dir, int selector, const std::uint8_t* frame,
                      std::size_t size) {
    std::string data(1, static_cast<char>(selector));
    data.append(reinterpret_cast<const char*>(frame), size);
    write_file(dir + "/seed-" + std::to_string(written), data);
}

std::vector<bytes> kit_frames() {
    dhcp_frame plain;
    plain.options = concat({option(55, bytes{1, 3, 6, 15}), option(60, "MSFT 5.0"),
                            option(12, "host"), option(50, bytes{10, 0, 0, 1})});
    dhcp_frame tagged = plain;
    tagged.vlan_tci = 100;
    tagged.options = concat({plain.options, relay_agent_option(7, 1, 2, {2, 3, 4, 5, 6, 7})});
    dhcp_frame long_address = plain;
    long_address.hlen = 16;
    dhcp_frame quirks;
    quirks.message_type = 0;
    quirks.options = bytes{0, 2, 53, 0, 50, 1, 1, 255, 0, 82, 4, 1, 0, 0, 4, 12, 3, 'a', 'b'};
    return {build(plain), build(tagged), build(long_address), build(quirks), non_dhcp_frame(1)};
}

void from_capture_dir(const std::string& dir, const std::string& frame_dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = readdir(d)) {
        if (entry->d_name[0] == '.') continue;
        char error_text[PCAP_ERRBUF_SIZE];
        pcap_t* capture = pcap_open_offline((dir + "/" + entry->d_name).c_str(), error_text);
        if (capture == nullptr) continue;
        const int selector = fuzz_input::selector_of(pcap_datalink(capture));
        const std::uint16_t header_length =
            static_cast<std::uint16_t>(selector < 0 ? 14 : *dhcpident::link_header_length(
                                                               fuzz_input::link_types[selector]));
        pcap_pkthdr* header;
        const u_char* frame;
        int taken = 0;
        dhcpident::dhcp_request request;
        for (int n = 0; taken < 20 && pcap_next_ex(capture, &header, &frame) == 1; ++n) {
            dhcpident::decode_dhcp_request(dhcpident::byte_view(frame, header->caplen), header_length,
                                            request);
            if (n < 3 || request.message_type != 0) {
                write_frame_seed(frame_dir, selector < 0 ? 1 : selector, frame, header->caplen);
                ++taken;
            }
        }
        pcap_close(capture);
    }
    closedir(d);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT [CAPTURE_DIR]\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    for (const char* sub : {"", "/frame", "/capture", "/prints"}) mkdir((out + sub).c_str(), 0755);

    const std::vector<bytes> frames = kit_frames();
    for (const bytes& frame : frames) write_frame_seed(out + "/frame", 1, frame.data(), frame.size());
    // Frames cut short: around the tag, the headers and the options.
    const bytes& tagged = frames[1];
    for (std::size_t n = 0; n < tagged.size(); n += n < 48 ? 1 : 13) {
        write_frame_seed(out + "/frame", 1, tagged.data(), n);
    }
    write_file(out + "/capture/kit.pcap", capture_of(frames));
    write_file(out + "/capture/kit-sll.pcap", capture_of({frames[0]}, DLT_LINUX_SLL));
    capture_writer cut;
    cut.add(bytes(frames[1].begin(), frames[1].end() - 20), static_cast<std::uint32_t>(frames[1].size()));
    write_file(out + "/capture/kit-cut.pcap", cut.finish());

    write_file(out + "/prints/basic", "# comment\n64|53,55|1,3,6|MSFT 5.0|Windows\n0|*|*|(null)|Any\n");
    write_file(out + "/prints/odd", "128|,1,,300,|*|v|d|x\n!x\n\n5|a|b\n1|*|*|v|last");

    if (argc > 2) from_capture_dir(argv[2], out + "/frame");
    std::printf("%d seeds written to %s\n", written, out.c_str());
    return 0;
}
