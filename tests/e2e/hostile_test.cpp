// The program against what it does not control: real captures from
// elsewhere, damaged and unusual capture files, and termination signals at
// any moment.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "capture_writer.h"
#include "dhcp/request.h"
#include "common/link_type.h"
#include "frame_builder.h"
#include "e2e_fixture.h"
#include "program_runner.h"
#include "text/render.h"

namespace {

using namespace e2e;
using testkit::bytes;

constexpr char link_warning[] = "Warning: unable to find device link type!\n";

class HostileTest : public e2e::EndToEndTest {
protected:
    static program_result run(const std::string& capture, const std::string& mac = target) {
        return run_program(with_capture(capture, {mac}));
    }
};

bytes request(const char* host) {
    testkit::dhcp_frame f;
    f.options = testkit::option(12, host);
    return build(f);
}

std::string report(const char* host) {
    return std::string("mac='") + target + "'\n\ndhcpvendor=''\nfingerprint=''\nhostname='" + host +
           "'\n\n";
}

// pcapng, written by hand as libpcap has no writer for it: a section
// header, one Ethernet interface, one enhanced packet block per frame.
std::string pcapng_of(const std::vector<bytes>& frames) {
    std::string out;
    auto u32 = [&](std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](std::uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    u32(0x0A0D0D0A), u32(28), u32(0x1A2B3C4D), u16(1), u16(0), u32(0xFFFFFFFF), u32(0xFFFFFFFF),
        u32(28);
    u32(1), u32(20), u16(1), u16(0), u32(65535), u32(20);
    for (const bytes& frame : frames) {
        const std::uint32_t padded = (static_cast<std::uint32_t>(frame.size()) + 3) & ~3u;
        u32(6), u32(32 + padded), u32(0), u32(0), u32(0);
        u32(static_cast<std::uint32_t>(frame.size())), u32(static_cast<std::uint32_t>(frame.size()));
        out.append(frame.begin(), frame.end());
        out.append(padded - frame.size(), '\0');
        u32(32 + padded);
    }
    return out;
}

TEST_F(HostileTest, DamagedAndUnusualCaptureFiles) {
    const std::string whole = testkit::capture_of({request("a"), request("b")});
    const bytes third = request("c");
    // Record headers are 16 bytes: caplen at offset 8, wire length at 12.
    const std::string in_header = whole + std::string(8, '\x01');
    std::string in_frame = testkit::capture_of({request("a"), request("b"), third});
    in_frame.resize(in_frame.size() - third.size() / 2);

    // A capture libpcap refuses: one line, libpcap's words behind the open
    // error.
    const std::string refused = open_error;
    expect_rows({
        {"cut inside a record header", with_capture(in_header), report("b"), "", 0},
        {"cut inside a frame", with_capture(in_frame), report("b"), "", 0},
        {"pcapng", with_capture(pcapng_of({request("a"), request("ng")})), report("ng"), "", 0},
        {"empty file", with_capture(""), "",
         refused + "truncated dump file; tried to read 4 file header bytes, only got 0\n", 1},
        {"bogus magic", with_capture("\xde\xad\xbe\xef" + whole.substr(4)), "",
         refused + "unknown file format\n", 1},
        {"header only, cut", with_capture(whole.substr(0, 20)), "",
         refused + "truncated dump file; tried to read 24 file header bytes, only got 16\n", 1},
    });
}

// A client in the file whose request the program should report, if any.
std::string client_in(const std::string& capture) {
    const testkit::capture_frames read = testkit::frames_of(capture);
    testing::internal::CaptureStderr();
    const std::uint16_t header_length = dhcpident::link_header_length(read.link_type).value_or(0);
    testing::internal::GetCapturedStderr();
    for (const bytes& frame : read.frames) {
        dhcpident::byte_view address;
        if (dhcpident::is_dhcp_request(dhcpident::byte_view(frame.data(), frame.size()),
                                       header_length, address) &&
            address.size() > 0 && address.size() <= 6) {
            return dhcpident::hex_colon_text(address);
        }
    }
    return "";
}

bool only_link_warnings(const std::string& err) {
    for (std::size_t at = 0; at < err.size(); at += std::strlen(link_warning)) {
        if (err.compare(at, std::strlen(link_warning), link_warning) != 0) return false;
    }
    return true;
}

// Every capture of the shared corpus, most of them not DHCP and many of
// them malformed on purpose: the program ends cleanly on each.
TEST_F(HostileTest, SharedCaptureCorpusRunsClean) {
    // Every tenth file under an emulator: each run starts one.
    const std::vector<std::string> names = corpus_names(emulated() ? 10 : 1);
    if (names.empty()) GTEST_SKIP() << "no capture corpus at " DHCPIDENT_CAPTURES;

    int clean = 0, refused = 0, reported = 0;
    for (const std::string& name : names) {
        const std::string capture = testkit::load(std::string(DHCPIDENT_CAPTURES) + "/" + name);
        const std::string client = client_in(capture);
        // The empty target, which matches an address of length 0, and a
        // client found in the file.
        std::vector<std::string> targets{""};
        if (!client.empty()) targets.push_back(client);
        bool ok = true;
        for (const std::string& mac : targets) {
            const program_result r = run(capture, mac);
            const bool opened = r.status == 0 && only_link_warnings(r.err);
            const bool refused_open = r.status == 1 && r.out.empty() &&
                                      r.err.rfind(open_error, 0) == 0 &&
                                      std::count(r.err.begin(), r.err.end(), '\n') == 1;
            EXPECT_TRUE(opened || refused_open) << name << " " << mac << ": status " << r.status
                                                << "\n" << r.err;
            if (!client.empty() && mac == client && opened) {
                EXPECT_EQ(r.out.rfind("mac='" + client + "'\n", 0), 0u) << name << "\n" << r.out;
                reported += r.out.size() >= 2 && r.out.compare(r.out.size() - 2, 2, "\n\n") == 0;
            }
            if (mac.empty()) refused += refused_open;
            ok = ok && (opened || refused_open);
        }
        clean += ok;
    }
    std::printf("capture corpus: %d of %zu files ran clean (%d refused by libpcap), "
                "%d clients reported\n", clean, names.size(), refused, reported);
    EXPECT_EQ(static_cast<std::size_t>(clean), names.size());
}

// A capture of many frames of other traffic with a target request a quarter
// and half of the way through, so the report comes half way into the
// second pass.
std::string slow_capture(std::size_t filler) {
    testkit::capture_writer writer;
    const bytes other = bytes(14, 0x42);
    for (std::size_t i = 0; i < filler; ++i) {
        if (i == filler / 4) writer.add(request("first"));
        if (i == filler / 2) writer.add(request("last"));
        writer.add(other);
    }
    return writer.finish();
}

// Signals at moments spread evenly over both passes, each placed by the
// program's own progress through the capture (its read offset), with the
// program stopped until the signal is on its way: a loaded machine slows
// the runs down but cannot move the moments.
TEST_F(HostileTest, SignalAtAnyMomentNeverCutsOutput) {
    const int runs = emulated() ? 6 : 12;  // under an emulator a run is many times slower
    constexpr std::size_t filler = 300'000;
    static const std::string capture = slow_capture(filler);
    const std::string full_report = report("last");
    const int signals[] = {SIGTERM, SIGINT, SIGHUP};
    int in_pass[3] = {0, 0, 0};
    int restarted = 0, behind_report = 0;
    for (int i = 0; i < runs; ++i) {
        // The moment, as passes done: spread from 5 % to 75 % of each pass,
        // leaving a quarter of a pass for the step in which it is reached.
        struct moment {
            int pass;
            long long position;
            mutable int paused_in;  // the pass the program was paused in
        } const at{1 + 2 * i / runs,
                   static_cast<long long>(capture.size() *
                                          (0.05 + 0.7 * ((2 * i % runs) + 0.5) / runs)),
                   0};
        SCOPED_TRACE("run " + std::to_string(i) + ": pass " + std::to_string(at.pass) + " at " +
                     std::to_string(at.position));
        // A program that finishes within the step that should have reached
        // the moment, or is paused only in a later pass (a machine so
        // loaded that the runner slept through a quarter of a pass), is no
        // fault of the program: that run is started again, at most five
        // times, and never judged.
        std::optional<running_program> program;
        for (int attempt = 0; attempt < 5; ++attempt) {
            program.emplace(with_capture(capture));
            program->wait_until_started();
            if (program->pause_when(
                    [](int pass, long long position, const std::string&, const void* context) {
                        const auto& want = *static_cast<const moment*>(context);
                        want.paused_in = pass;
                        return pass > want.pass || (pass == want.pass && position >= want.position);
                    },
                    &at) &&
                at.paused_in == at.pass) {
                break;
            }
            program.reset();
            ++restarted;
        }
        ASSERT_TRUE(program.has_value()) << "the moment was never reached";
        program->send(signals[i % 3]);
        program->resume();
        const program_result r = program->finish();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        std::string rest = r.out;
        const bool has_report = rest.rfind(full_report, 0) == 0;
        if (has_report) rest.erase(0, full_report.size());
        unsigned long processed = 0;
        ASSERT_EQ(std::sscanf(rest.c_str(), "\nSignal received. Shutdown.\nProcessed %lu", &processed), 1)
            << r.out;
        EXPECT_EQ(rest, "\nSignal received. Shutdown.\nProcessed " + std::to_string(processed) +
                            " DHCP requests.\n\n");
        // Interrupted inside a pass: the first pass counts the filler, the
        // second every frame.
        const int pass = processed < filler ? 1 : 2;
        EXPECT_LT(processed, 2 * filler + 2);
        EXPECT_GT(processed, 0u);
        EXPECT_EQ(pass, at.pass) << processed;
        EXPECT_TRUE(pass == 2 || !has_report);  // the report comes in the second pass
        ++in_pass[pass];
        behind_report += has_report;
    }
    // The moments past half the second pass come after the report.
    EXPECT_GT(behind_report, 0);
    std::printf("signals: %d runs over %zu frames, %d in the first pass, %d in the second "
                "(%d behind the report), %d started again\n",
                runs, filler + 2, in_pass[1], in_pass[2], behind_report, restarted);
}

}  // namespace
