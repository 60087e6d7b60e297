// Writes pcap files in memory with libpcap's own writer, so tests build the
// exact captures they need instead of shipping binary fixtures.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testkit {

class capture_writer {
public:
    explicit capture_writer(int link_type = DLT_EN10MB, int snap_length = 262144);
    ~capture_writer();
    capture_writer(const capture_writer&) = delete;
    capture_writer& operator=(const capture_writer&) = delete;

    // Adds a frame captured whole, or one cut to captured bytes out of a
    // longer frame on the wire.
    void add(const std::vector<std::uint8_t>& frame);
    void add(const std::vector<std::uint8_t>& frame, std::uint32_t wire_length);

    // Closes the file and returns its bytes; the writer is spent.
    std::string finish();

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_ = nullptr;
    pcap_t* dead_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
    std::uint32_t frames_ = 0;
};

// Writes data to path; false, with the reason on stderr, when it cannot.
bool save(const std::string& path, const std::string& data);

// The bytes of the file at path; empty when it cannot be read.
std::string load(const std::string& path);

// A capture with the given frames, each captured whole.
std::string capture_of(const std::vector<std::vector<std::uint8_t>>& frames,
                       int link_type = DLT_EN10MB);

// What libpcap reads of a capture held in memory: its link type (-1 when
// it reads none), its frames as captured, and whether it read them to the
// end without finding the file torn.
struct capture_frames {
    int link_type = -1;
    std::vector<std::vector<std::uint8_t>> frames;
    bool whole = false;
};
capture_frames frames_of(const std::string& capture);

}  // namespace testkit
