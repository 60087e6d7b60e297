// The floor the program is measured against: libpcap reading the capture
// PASSES times (default 2, as the default mode's two passes do; 1 for
// --all), doing nothing with the frames.
//   bench_floor [PATH [PASSES]]
#include <pcap/pcap.h>

#include <cstdio>
#include <cstdlib>

namespace {

unsigned long frames;

void count_only(u_char*, const pcap_pkthdr*, const u_char*) { ++frames; }

}  // namespace

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "/tmp/capfileall.pcap";
    const int passes = argc > 2 ? std::atoi(argv[2]) : 2;
    for (int pass = 0; pass < passes; ++pass) {
        char error_text[PCAP_ERRBUF_SIZE];
        pcap_t* capture = pcap_open_offline(path, error_text);
        if (capture == nullptr) {
            std::fprintf(stderr, "floor: %s\n", error_text);
            return 1;
        }
        pcap_loop(capture, -1, count_only, nullptr);
        pcap_close(capture);
    }
    std::printf("floor: %lu frames in %d passes\n", frames, passes);
    return 0;
}
