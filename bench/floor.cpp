// The floor the program is measured against: libpcap reading the capture
// twice, as the program's two passes do, doing nothing with the frames.
#include <pcap/pcap.h>

#include <cstdio>

namespace {

unsigned long frames;

void count_only(u_char*, const pcap_pkthdr*, const u_char*) { ++frames; }

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "/tmp/capfileall.pcap";
    for (int pass = 0; pass < 2; ++pass) {
        char error_text[PCAP_ERRBUF_SIZE];
        pcap_t* capture = pcap_open_offline(path, error_text);
        if (capture == nullptr) {
            std::fprintf(stderr, "floor: %s\n", error_text);
            return 1;
        }
        pcap_loop(capture, -1, count_only, nullptr);
        pcap_close(capture);
    }
    std::printf("floor: %lu frames in two passes\n", frames);
    return 0;
}
