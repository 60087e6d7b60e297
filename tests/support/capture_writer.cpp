#include "capture_writer.h"

#include <cstdlib>
#include <stdexcept>

namespace testkit {

capture_writer::capture_writer(int link_type, int snap_length) {
    file_ = open_memstream(&buffer_, &size_);
    dead_ = pcap_open_dead(link_type, snap_length);
    if (file_ == nullptr || dead_ == nullptr) throw std::runtime_error("capture_writer: open");
    dumper_ = pcap_dump_fopen(dead_, file_);
    if (dumper_ == nullptr) throw std::runtime_error(pcap_geterr(dead_));
}

capture_writer::~capture_writer() {
    if (dumper_ != nullptr) pcap_dump_close(dumper_);
    if (dead_ != nullptr) pcap_close(dead_);
    std::free(buffer_);
}

void capture_writer::add(const std::vector<std::uint8_t>& frame) {
    add(frame, static_cast<std::uint32_t>(frame.size()));
}

void capture_writer::add(const std::vector<std::uint8_t>& frame, std::uint32_t wire_length) {
    pcap_pkthdr header{};
    header.ts.tv_sec = 1700000000 + frames_++;  // deterministic files
    header.caplen = static_cast<bpf_u_int32>(frame.size());
    header.len = wire_length;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, frame.data());
}

std::string capture_writer::finish() {
    pcap_dump_close(dumper_);  // closes the memory stream, which sets buffer_
    dumper_ = nullptr;
    return std::string(buffer_, size_);
}

bool save(const std::string& path, const std::string& data) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(data.data(), 1, data.size(), out) != data.size() ||
        std::fclose(out) != 0) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

std::string load(const std::string& path) {
    std::string data;
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return data;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) data.append(buffer, n);
    std::fclose(in);
    return data;
}

std::string capture_of(const std::vector<std::vector<std::uint8_t>>& frames, int link_type) {
    capture_writer writer(link_type);
    for (const auto& frame : frames) writer.add(frame);
    return writer.finish();
}

capture_frames frames_of(const std::string& capture) {
    capture_frames read;
    char error[PCAP_ERRBUF_SIZE];
    std::FILE* file = fmemopen(const_cast<char*>(capture.data()), capture.size(), "rb");
    pcap_t* p = file != nullptr ? pcap_fopen_offline(file, error) : nullptr;
    if (p == nullptr) {
        if (file != nullptr) std::fclose(file);
        return read;
    }
    read.link_type = pcap_datalink(p);
    pcap_pkthdr* header;
    const u_char* data;
    int got;
    while ((got = pcap_next_ex(p, &header, &data)) == 1) {
        read.frames.emplace_back(data, data + header->caplen);
    }
    read.whole = got == PCAP_ERROR_BREAK;
    pcap_close(p);
    return read;
}

}  // namespace testkit
