// --all and --json against the default report: every client's block from
// one pass equals what "dhcpident MAC" prints for that client, and the JSON
// lines carry the same values, whatever bytes the clients sent.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_writer.h"
#include "dhcp/request.h"
#include "e2e_fixture.h"
#include "frame_builder.h"
#include "json_reader.h"
#include "program_runner.h"
#include "report_text.h"
#include "text/render.h"

namespace {

using namespace e2e;
using testkit::bytes;
using testkit::concat;
using testkit::dhcp_frame;
using testkit::option;

constexpr char not_root[] = "Error: You need to have root privileges\n";

using testkit::client;
using testkit::mixed_frames;
using testkit::request_from;

// The clients the default mode can be asked for, in the order of their
// first requests, by the program's own test of a request.
std::vector<std::string> clients_in(const std::vector<bytes>& frames) {
    std::vector<std::string> found;
    for (const bytes& frame : frames) {
        dhcpident::byte_view address;
        if (!dhcpident::is_dhcp_request(dhcpident::byte_view(frame.data(), frame.size()), 14, address)) {
            continue;
        }
        const std::string text = dhcpident::hex_colon_text(address);
        if (std::find(found.begin(), found.end(), text) == found.end()) found.push_back(text);
    }
    return found;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

class AllClientsTest : public EndToEndTest {};

TEST_F(AllClientsTest, OnePassGivesEachClientsDefaultReportInFirstRequestOrder) {
    const std::vector<bytes> frames = mixed_frames();
    const std::string capture = testkit::capture_of(frames);
    const std::vector<std::string> clients = clients_in(frames);
    ASSERT_EQ(clients.size(), 9u);

    std::string each_text, each_json;
    std::vector<std::string> blocks;
    for (const std::string& mac : clients) {
        const program_result text = run_program(with_capture(capture, {mac}));
        const program_result json = run_program(with_capture(capture, {"--json", mac}));
        ASSERT_EQ(text.status, 0) << mac << text.err;
        ASSERT_EQ(json.status, 0) << mac << json.err;
        ASSERT_FALSE(text.out.empty()) << mac;
        blocks.push_back(text.out);
        each_text += text.out;
        each_json += json.out;
    }
    const program_result all = run_program(with_capture(capture, {"--all"}));
    EXPECT_EQ(all.out, each_text);
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(all.status, 0);

    const program_result all_json = run_program(with_capture(capture, {"--json", "--all"}));
    EXPECT_EQ(all_json.out, each_json);
    EXPECT_EQ(all_json.status, 0);
    // Each line parses strictly and carries exactly the text report's values.
    const std::vector<std::string> lines = lines_of(all_json.out);
    ASSERT_EQ(lines.size(), blocks.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string error;
        const auto report = testkit::read_json(lines[i], &error);
        ASSERT_TRUE(report.has_value()) << error << "\n" << lines[i];
        EXPECT_EQ(testkit::text_of_json_report(*report), blocks[i]) << lines[i];
    }
}

TEST_F(AllClientsTest, PastTheClientBoundOneWarningAndKnownClientsStillUpdate) {
    const std::string warning =
        "Warning: Client table full (3 clients), further clients not reported\n";
    const std::string capture = testkit::capture_of({
        build(request_from(1, option(12, "one"))), build(request_from(2)), build(request_from(3)),
        build(request_from(4)), build(request_from(1, option(12, "one again"))),
        build(request_from(5)),
    });
    const program_result r = run_program(with_capture(capture, {"--max-clients=3", "--all"}));
    std::string expected;
    for (const char* mac : {"02:00:00:00:01:01", "02:00:00:00:01:02", "02:00:00:00:01:03"}) {
        expected += run_program(with_capture(capture, {mac})).out;
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.out.find("hostname='one again'"), std::string::npos);
    EXPECT_EQ(r.err, warning);
    EXPECT_EQ(r.status, 0);
}

// The command line is answered or refused before the root check, and
// nothing but the root error comes out of a run without root.
TEST_F(AllClientsTest, OptionsAreAnsweredBeforeTheRootCheck) {
    const std::string bad_mac =
        "Error: expected one argument, the client's MAC address such as aa:bb:cc:dd:ee:ff\n";
    const std::string clients_range = "Error: --max-clients takes a number from 1 to 16777216\n";
    const std::string memory_range =
        "Error: --max-memory takes a number from 1 to 1024M, K or M for KiB or MiB\n";
    const std::string report = "mac='02:00:00:00:01:01'\n";
    const std::string capture = testkit::capture_of({build(request_from(1))});
    auto as_root = [&](std::vector<std::string> args) { return with_capture(capture, args); };
    auto as_user = [&](std::vector<std::string> args) {
        program_setup s = with_capture(capture, args);
        s.run_as = 65534;
        return s;
    };
    expect_rows({
        {"help", as_user({"--help"}), "Usage: dhcpident [--json] [--names[=DIR]] MAC\n", "", 0, true},
        {"version", as_user({"--version"}), "dhcpident 0.2.0\n", "", 0},
        {"unknown option", as_user({"--bogus", target}), "", "Error: Unknown option --bogus (see --help)\n", 1},
        {"a lone dash", as_root({"-"}), "", "Error: Unknown option - (see --help)\n", 1},
        {"no client bound of 0", as_root({"--max-clients=0", "--all"}), "", clients_range, 1},
        {"a bound that is no number", as_root({"--max-clients=12x", "--all"}), "", clients_range, 1},
        {"a client bound takes no unit", as_root({"--max-clients=1K", "--all"}), "", clients_range, 1},
        {"a bound past 2^24", as_root({"--max-clients=16777217", "--all"}), "", clients_range, 1},
        {"a bound past 2^64 + 1", as_root({"--max-clients=18446744073709551617", "--all"}), "",
         clients_range, 1},
        {"the largest client bound", as_root({"--max-clients=16777216", "--all"}), report, "", 0, true},
        {"a bound that is no option", as_root({"--max-clients", "--all"}), "",
         "Error: Unknown option --max-clients (see --help)\n", 1},
        {"no memory bound of 0", as_root({"--max-memory=0K", "--all"}), "", memory_range, 1},
        {"a memory bound past 1024M", as_root({"--max-memory=1025M", "--all"}), "", memory_range, 1},
        {"the largest memory bound", as_root({"--max-memory=1024M", "--all"}), report, "", 0, true},
        {"a memory bound in bytes", as_root({"--max-memory=65536", "--all"}), report, "", 0, true},
        {"--json still needs a MAC", as_root({"--json"}), "", bad_mac, 1},
        {"no MAC", as_root({}), "", bad_mac, 1},
        {"no MAC, not root", as_user({}), "", bad_mac, 1},
        {"a MAC longer than 17 characters is refused, not cut", as_user({"00:1a:2b:3c:4d:5e:"}), "",
         bad_mac, 1},
        {"a MAC needs root", as_user({target}), "", not_root, 1},
        {"one that matches nothing too, and only the root error says so", as_user({"AA"}), "",
         not_root, 1},
        {"--all needs root", as_user({"--all"}), "", not_root, 1},
    });
}

// Clients whose requests carry every text at its longest (85 address bytes,
// three 255-byte values, 150 option codes), then the target; their reports
// are more than a pipe holds.
std::string maximal_clients() {
    testkit::capture_writer writer;
    bytes codes;
    for (std::uint8_t code = 100; code < 250; ++code) codes.insert(codes.end(), {code, 0});
    for (std::uint32_t n = 0; n < 3000; ++n) {
        dhcp_frame f = request_from(n, concat({option(12, std::string(255, 'h')), option(55, bytes(255, 7)),
                                               option(60, std::string(255, 'v')), codes}));
        f.hlen = 85;
        writer.add(build(f));
    }
    writer.add(build(dhcp_frame{}));
    return writer.finish();
}

// printed is the first reports of whole, fewer than all.
void expect_first_reports(const std::string& printed, const std::string& whole, const char* name) {
    EXPECT_EQ(whole.compare(0, printed.size(), printed), 0) << name;
    EXPECT_TRUE(whole.compare(printed.size(), 4, "mac=") == 0 ||
                whole.compare(printed.size(), 4, "{\"ma") == 0) << name;
}

// Captures made to cost the table most: rounds of requests in which each
// client's texts climb (one client in seven left behind in each round),
// alternate long and short, or first stay short and then all grow (many
// withheld once the budget is reached), and addresses of every length;
// first, one client that is always reported.
std::string hostile_clients(const char* pattern) {
    testkit::capture_writer writer;
    writer.add(build(dhcp_frame{}));
    const std::string name(pattern);
    const int rounds = name == "climbing" ? 8 : name == "odd lengths" ? 1 : 4;
    for (int round = 0; round < rounds; ++round) {
        for (std::uint32_t n = 0; n < 2000; ++n) {
            std::size_t host = 1 + (n * 37 + round * 11) % 255, vendor = 1;  // odd lengths
            if (name == "climbing") host = n % 7 == 0 ? 8 : 8 + 31 * round;
            if (name == "alternating") host = vendor = (round + n) % 2 == 0 ? 255 : 1;
            if (name == "withheld") host = vendor = round == 0 ? 1 : 255;
            dhcp_frame f = request_from(n, concat({option(12, std::string(host, 'h')),
                                                   option(60, std::string(vendor, 'v'))}));
            if (name == "odd lengths") f.hlen = static_cast<std::uint8_t>(1 + n % 85);
            writer.add(build(f));
        }
    }
    return writer.finish();
}

// However a capture's clients come, what the table holds stays within its
// budget: once the pass is over (the reports held by a reader that takes
// nothing) the program's anonymous memory exceeds that of a run keeping one
// client by at most a quarter more than the budget, the allocator's and the
// emulator's ways whatever they are.
TEST_F(AllClientsTest, TheMemoryBudgetBoundsWhatClientsCost) {
    auto memory_after_pass = [](const std::string& capture, const std::string& option,
                                std::string& err) {
        program_setup s = with_capture(capture, {option, "--all"});
        s.out = output_to::stuck_pipe;
        running_program program(s);
        EXPECT_TRUE(program.wait_until_blocked_writing()) << option;
        const long kib = program.anonymous_kib();
        program.send(SIGKILL);
        err = program.finish().err;
        return kib;
    };
    for (const char* pattern : {"maximal", "climbing", "alternating", "withheld", "odd lengths"}) {
        const std::string capture =
            std::string(pattern) == "maximal" ? maximal_clients() : hostile_clients(pattern);
        std::string err;
        const long one_client = memory_after_pass(capture, "--max-clients=1", err);
        for (const auto& [option, budget] : {std::pair{"--max-memory=64K", 64 << 10},
                                             std::pair{"--max-memory=512K", 512 << 10},
                                             std::pair{"--max-memory=2M", 2 << 20}}) {
            const long growth = memory_after_pass(capture, option, err) - one_client;
            if (std::string(pattern) == "maximal") {
                EXPECT_EQ(err, "Warning: Client table full (" + std::to_string(budget) +
                                   " bytes), further clients not reported\n") << option;
            }
#ifndef DHCPIDENT_SANITIZED
            EXPECT_LE(growth * 1024, budget + budget / 4) << pattern << " " << option;
#endif
            std::printf("memory budget: %s, %s: %ld KiB more than for one client (%.2fx)\n",
                        pattern, option, growth, growth * 1024.0 / budget);
        }
    }
}

// A signal while the reports are written: the report in hand is finished,
// no other follows, then the summary. Where nobody reads stdout at all (a
// full pipe), the program gives up 1 s after the signal with status 1, in
// either mode: the summary was lost; with stderr stuck as well, a second
// second ends the error line. An alarm that no termination signal set ends
// the program as SIGALRM always does.
TEST_F(AllClientsTest, ASignalEndsTheReportsWhetherOrNotTheyAreRead) {
    static const std::string capture = maximal_clients();
    const std::string lost =
        "Error: Unable to write the report: the reader did not take the whole output within 1 s "
        "of the signal\n";
    struct row {
        const char* name;
        std::vector<std::string> args;
        output_to out;
        bool stuck_stderr;
        int signal;
        std::string summary;  // empty: no report or summary expected whole
        std::string err;
        int status;
        double within_seconds;  // of the signal; 0: not timed
    } rows[] = {
        {"read late", {"--all"}, output_to::pipe, false, SIGTERM,
         "\nSignal received. Shutdown.\nProcessed 3001 DHCP requests.\n\n", "", 0, 0},
        {"read late, JSON", {"--json", "--all"}, output_to::pipe, false, SIGINT,
         "{\"signal\":\"received\",\"processed\":3001}\n", "", 0, 0},
        {"never read", {"--all"}, output_to::stuck_pipe, false, SIGHUP, "", lost, 1, 2},
        {"never read, JSON", {"--json", "--all"}, output_to::stuck_pipe, false, SIGTERM, "", lost, 1, 2},
        {"never read, one client", {target}, output_to::stuck_pipe, false, SIGINT, "", lost, 1, 2},
        {"stderr stuck too", {"--all"}, output_to::stuck_pipe, true, SIGTERM, "", "", 1, 3},
        {"an outside alarm", {"--all"}, output_to::stuck_pipe, false, SIGALRM, "", "", 128 + SIGALRM, 0},
    };
    for (const row& r : rows) {
        program_setup s = with_capture(capture, r.args);
        s.out = r.out;
        s.stuck_stderr = r.stuck_stderr;
        s.time_limit_seconds = 20;  // then killed: a run that never ends fails
        running_program program(s);
        ASSERT_TRUE(program.wait_until_blocked_writing()) << r.name;
        const auto sent = std::chrono::steady_clock::now();
        program.send(r.signal);
        const program_result result = program.finish();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
        EXPECT_EQ(result.status, r.status) << r.name;
        EXPECT_EQ(result.err, r.err) << r.name;
        if (r.within_seconds != 0) {
            EXPECT_LT(took.count(), r.within_seconds) << r.name;
        }
        if (r.summary.empty()) continue;
        const std::size_t printed = result.out.size() - r.summary.size();
        ASSERT_GT(result.out.size(), r.summary.size()) << r.name;
        EXPECT_EQ(result.out.substr(printed), r.summary) << r.name;
        const std::string whole = run_program(with_capture(capture, r.args)).out;
        EXPECT_LT(printed, whole.size()) << r.name;
        expect_first_reports(result.out.substr(0, printed), whole, r.name);
    }
}

}  // namespace
