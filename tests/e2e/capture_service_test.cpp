// dhcpident-capture: the capture it writes reports what the whole capture
// reports; past its bounds it drops the oldest; and, live on a veth pair of
// a network namespace of its own, it runs as nobody, publishes whole files,
// keeps its clients over a restart and lets the kernel drop the rest.
#include <gtest/gtest.h>

#include <linux/if_packet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "capture_writer.h"
#include "service/live_capture.h"
#include "e2e_fixture.h"
#include "frame_builder.h"
#include "program_runner.h"

namespace {

using namespace e2e;
using testkit::bytes;

// A directory outside the runs' private /tmp, open to all as /tmp is.
struct shared_dir {
    std::string path;
    shared_dir() {
        char name[] = "/var/tmp/dhcpident-service.XXXXXX";
        path = mkdtemp(name);
        chmod(path.c_str(), 01777);
    }
    ~shared_dir() { std::filesystem::remove_all(path); }
};

std::vector<bytes> frames_of(const std::string& capture) { return testkit::frames_of(capture).frames; }

// What the reader says of capture: --all, --json --all, then the default
// report of each client --all names.
std::string reports_on(const std::string& capture) {
    std::string said;
    auto ask = [&](const std::vector<std::string>& args) {
        const program_result r = run_program(EndToEndTest::with_capture(capture, args));
        said += r.out + "status " + std::to_string(r.status) + "\n";
        return r.out;
    };
    const std::string all = ask({"--all"});
    ask({"--json", "--all"});
    // Each client --all names that dhcpident MAC can be asked for.
    for (std::size_t at = 0; (at = all.find("mac='", at)) != std::string::npos; at += 5) {
        const std::string mac = all.substr(at + 5, all.find("'\n", at + 5) - at - 5);
        if (mac.size() <= 17) ask({mac});
    }
    return said;
}

program_setup service_setup(std::vector<std::string> args, std::optional<std::string> capture = {}) {
    program_setup s;
    s.service = true;
    s.args = std::move(args);
    s.capture = std::move(capture);
    return s;
}

// The service's -r over capture: its output's bytes, and how it ended.
std::string compacted(const std::string& capture, std::vector<std::string> args, program_result& r) {
    shared_dir dir;
    args.insert(args.end(), {"-r", "/tmp/capfileall.pcap", "-w", dir.path + "/out.pcap"});
    r = run_program(service_setup(args, capture));
    return testkit::load(dir.path + "/out.pcap");
}

class CaptureServiceTest : public EndToEndTest {};

// Generated captures, the sample, and the shared corpus (one in eight files
// under an emulator, one in four under the sanitizers): the reader's every
// answer on the compacted capture is its answer on the whole one.
TEST_F(CaptureServiceTest, CorpusAndGeneratedCapturesReportTheSameCompacted) {
    std::vector<std::pair<std::string, std::string>> captures{
        {"mixed", testkit::capture_of(testkit::mixed_frames())},
        {"sample", testkit::load(DHCPIDENT_SAMPLES "/sample.pcap")}};
    std::vector<bytes> raw;
    for (const bytes& frame : testkit::mixed_frames()) {
        if (frame.size() > 14) raw.emplace_back(frame.begin() + 14, frame.end());
    }
    captures.emplace_back("raw IP", testkit::capture_of(raw, DLT_RAW));
    // Addresses that agree in the 85 bytes a report shows are one client.
    auto long_address = [](std::uint8_t at_90, const char* host) {
        testkit::dhcp_frame f;
        f.hlen = 100;
        f.options = testkit::option(12, host);
        bytes frame = testkit::build(f);
        frame[14 + 20 + 8 + 28 + 90] = at_90;  // in the BOOTP file field, behind chaddr
        return frame;
    };
    captures.emplace_back("addresses past 85 bytes",
                          testkit::capture_of({long_address(1, "a"), long_address(2, "b"),
                                               long_address(1, "a again")}));
#ifdef DHCPIDENT_SANITIZED
    const std::size_t every = 4;  // the sanitizers make each run slow
#else
    const std::size_t every = emulated() ? 8 : 1;
#endif
    for (const std::string& name : corpus_names(every)) {
        captures.emplace_back(name, testkit::load(DHCPIDENT_CAPTURES "/" + name));
    }
    int with_clients = 0;
    for (const auto& [name, capture] : captures) {
        const std::string whole = reports_on(capture);
        if (whole.find("status 1") != std::string::npos) continue;  // no capture libpcap reads
        program_result r;
        const std::string out = compacted(capture, {"--max-memory=64M"}, r);
        ASSERT_EQ(r.status, 0) << name << "\n" << r.err;
        EXPECT_TRUE(reports_on(out) == whole) << name;
        with_clients += whole.find("mac='") != std::string::npos;
    }
    std::printf("capture service: %zu captures compacted, %d with clients, each reported the same\n",
                captures.size(), with_clients);
}

// 50,000 clients, one request each, and one client that asks again every
// fifty: past either bound the oldest are dropped, the newest kept in
// the order of first requests, the one that kept asking among them.
TEST_F(CaptureServiceTest, PastItsBoundsTheClientsWhoseLastRequestIsOldestGo) {
    testkit::capture_writer writer(DLT_EN10MB, 1518);
    auto request_of = [](std::uint32_t n) {
        return testkit::build(testkit::request_from(n, testkit::option(12, "host " + std::to_string(n))));
    };
    for (std::uint32_t n = 0; n < 50000; ++n) {
        writer.add(request_of(n));
        if (n % 50 == 49) writer.add(request_of(0));
    }
    const std::string capture = writer.finish();
    for (const auto& [bound, limits] : {std::pair{"--max-memory=1M", "65536 clients and 1048576 bytes"},
                                        std::pair{"--max-clients=100", "100 clients and 2097152 bytes"}}) {
        program_result r;
        const std::string out = compacted(capture, {bound}, r);
        const std::vector<bytes> frames = frames_of(out);
        ASSERT_GT(frames.size(), 2u) << bound;
        EXPECT_EQ(r.status, 0) << bound;
        EXPECT_LE(out.size(), std::size_t{1} << 20) << bound;
        EXPECT_EQ(frames[0], request_of(0)) << bound;
        const std::uint32_t first = 50000 - static_cast<std::uint32_t>(frames.size() - 1);
        for (std::size_t i = 1; i < frames.size(); ++i) {
            ASSERT_EQ(frames[i], request_of(first + static_cast<std::uint32_t>(i - 1))) << bound << " " << i;
        }
        if (std::string(bound) == "--max-clients=100") {
            EXPECT_EQ(frames.size(), 100u);
        }
        EXPECT_EQ(r.err, "Warning: Dropped " + std::to_string(first - 1) +
                             " clients whose last request was oldest, to keep within " + limits + "\n");
    }
    // One client at the client bound: the newest.
    program_result r;
    std::string out = compacted(testkit::capture_of({request_of(1), request_of(2)}), {"--max-clients=1"}, r);
    EXPECT_EQ(frames_of(out), std::vector<bytes>{request_of(2)});
    EXPECT_EQ(r.err, "Warning: Dropped 1 clients whose last request was oldest, to keep within 1 clients "
                     "and 2097152 bytes\n");
    // A raw IP capture's file says LINKTYPE_RAW, 101, not libpcap's DLT 12,
    // in the byte order its magic number gives (the writer's).
    out = compacted(testkit::capture_of({}, DLT_RAW), {}, r);
    ASSERT_GE(out.size(), 24u);
    const bool big_endian = out.compare(0, 4, "\xa1\xb2\xc3\xd4") == 0;
    EXPECT_EQ(out.substr(20, 4), big_endian ? std::string("\0\0\0\x65", 4) : std::string("\x65\0\0\0", 4));
    // A frame larger than a quarter of the budget is refused, and said to
    // be; the others are kept.
    bytes huge;
    for (int i = 0; i < 80; ++i) huge = testkit::concat({huge, testkit::option(250, std::string(250, 'x'))});
    out = compacted(
        testkit::capture_of({request_of(1), testkit::build(testkit::request_from(2, huge)), request_of(3)}),
        {"--max-memory=64K"}, r);
    EXPECT_EQ(r.err, "Warning: 1 requests not kept: larger than --max-memory holds\n");
    EXPECT_EQ(frames_of(out), (std::vector<bytes>{request_of(1), request_of(3)}));
}

TEST_F(CaptureServiceTest, ACommandLineItCannotServeEndsInAnError) {
    const std::string sample = testkit::load(DHCPIDENT_SAMPLES "/sample.pcap");
    auto run = [&](std::vector<std::string> args) { return service_setup(args, sample); };
    const std::string interval = "Error: --interval takes a number from 1 to 3600\n";
    expect_rows({
        {"neither", run({}), "", "Error: expected -i INTERFACE or -r FILE (see --help)\n", 1},
        {"both", run({"-r", "/tmp/capfileall.pcap", "-i", "veth1"}), "",
         "Error: expected -i INTERFACE or -r FILE, not both (see --help)\n", 1},
        {"no argument", run({"-r"}), "", "Error: -r takes an argument (see --help)\n", 1},
        {"an empty output", run({"-r", "/tmp/capfileall.pcap", "-w", ""}), "",
         "Error: -w takes an argument, not an empty one (see --help)\n", 1},
        {"a buffer too small", run({"--buffer=63K", "-r", "x"}), "",
         "Error: --buffer takes a number from 64K to 64M, K or M for KiB or MiB\n", 1},
        {"interval 0", run({"--interval=0", "-r", "x"}), "", interval, 1},
        {"interval past an hour", run({"--interval=3601", "-r", "x"}), "", interval, 1},
        {"client bound", run({"--max-clients=16777217", "-r", "x"}), "",
         "Error: --max-clients takes a number from 1 to 16777216\n", 1},
        {"unknown", run({"-x"}), "", "Error: Unknown option -x (see --help)\n", 1},
        {"no input", run({"-r", "/tmp/none"}), "",
         "Error: Unable to open capture /tmp/none: No such file or directory\n", 1},
        {"a directory", run({"-r", "/tmp/capfileall.pcap", "-w", "/tmp"}), "",
         "Error: Unable to write /tmp: Is a directory\n", 1},
        {"no directory", run({"-r", "/tmp/capfileall.pcap", "-w", "/tmp/no/file"}), "",
         "Error: Unable to write /tmp/no/file: No such file or directory\n", 1},
    });
}

// Live, on veth1 of a veth pair in a network namespace of the test's own
// (each test runs in a process of its own): frames sent on veth0 reach it.
// qemu-user lacks the SIOCETHTOOL ioctl with which libpcap opens an
// interface: the router programs are not run live.
class LiveCaptureTest : public EndToEndTest {
protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        if (IsSkipped()) return;
        if (emulated()) GTEST_SKIP() << "qemu-user cannot open a live capture (SIOCETHTOOL)";
        ASSERT_EQ(unshare(CLONE_NEWNET | CLONE_NEWNS), 0);
        ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        // The services' locks go to a /var/run of the test's own.
        ASSERT_EQ(mount("dhcpident-run", "/var/run", "tmpfs", 0, "mode=0755"), 0);
        ASSERT_EQ(std::system("ip link add veth0 type veth peer name veth1 && ip link set veth0 up && "
                              "ip link set veth1 up"), 0);
        sender_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = static_cast<int>(if_nametoindex("veth0"));
        ASSERT_EQ(bind(sender_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    }
    void TearDown() override {
        if (sender_ >= 0) close(sender_);
        umount2(dir_.path.c_str(), MNT_DETACH);  // a file system mounted there
    }
    void send(const bytes& frame) { ASSERT_EQ(::send(sender_, frame.data(), frame.size(), 0), ssize_t(frame.size())); }
    // Starts the service on veth1 (unless options name interfaces) with
    // the output in the shared directory.
    std::unique_ptr<running_program> start(std::vector<std::string> options = {}, bool stuck_stderr = false) {
        if (std::find(options.begin(), options.end(), "-i") == options.end()) {
            options.insert(options.end(), {"-i", "veth1"});
        }
        options.insert(options.end(), {"-w", output()});
        program_setup setup = service_setup(options);
        setup.stuck_stderr = stuck_stderr;
        auto program = std::make_unique<running_program>(setup);
        // Started once it runs as nobody, its first file in place.
        const std::string status = "/proc/" + std::to_string(program->pid()) + "/status";
        for (int i = 0; i < 500 && testkit::load(status).find("Uid:\t65534") == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return program;
    }
    std::string output() const { return dir_.path + "/capfileall.pcap"; }
    std::vector<bytes> requests(std::uint32_t from, std::uint32_t count) {
        std::vector<bytes> frames;
        for (std::uint32_t n = from; n < from + count; ++n) {
            frames.push_back(testkit::build(testkit::request_from(n)));
        }
        return frames;
    }
    // Waits up to two intervals of 1 s, and a little, for the output to
    // hold count frames.
    std::string output_with(std::size_t count) {
        std::string out;
        for (int i = 0; i < 250 && frames_of(out = testkit::load(output())).size() != count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return out;
    }
    shared_dir dir_;
    int sender_ = -1;
};

// A descriptor of the running service's, duplicated here: its packet
// socket, the first socket among them.
int socket_of(pid_t pid) {
    const int process = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (int fd = 3; process >= 0 && fd < 64; ++fd) {
        const int copy = static_cast<int>(syscall(SYS_pidfd_getfd, process, fd, 0));
        struct stat status;
        if (copy >= 0 && fstat(copy, &status) == 0 && S_ISSOCK(status.st_mode)) {
            close(process);
            return copy;
        }
        if (copy >= 0) close(copy);
    }
    if (process >= 0) close(process);
    return -1;
}

// Its privileges and its socket, as the running process has them; a link
// at the path is replaced and its target (a capture, root's, with a client
// of its own) neither read nor touched; a request to another port, which
// the reader would take, never leaves the kernel. Then a restart keeps the
// clients, and a lost interface ends it, the last file whole.
TEST_F(LiveCaptureTest, ItRunsAsNobodyAndARestartKeepsItsClients) {
    const std::string target = dir_.path + "/target";
    const std::string elsewhere = testkit::capture_of({testkit::build(testkit::request_from(250))});
    ASSERT_TRUE(testkit::save(target, elsewhere));
    ASSERT_EQ(symlink(target.c_str(), output().c_str()), 0);
    auto service = start();
    std::string status = testkit::load("/proc/" + std::to_string(service->pid()) + "/status");
    for (const char* line : {"Uid:\t65534\t65534\t65534\t65534\n", "Gid:\t65534\t65534\t65534\t65534\n",
                             "CapInh:\t0000000000000000\n", "CapPrm:\t0000000000000000\n",
                             "CapEff:\t0000000000000000\n", "CapBnd:\t0000000000000000\n",
                             "CapAmb:\t0000000000000000\n", "NoNewPrivs:\t1\n"}) {
        EXPECT_NE(status.find(line), std::string::npos) << line << status;
    }
    const std::size_t at = status.find("Groups:");
    const std::string groups = status.substr(at, status.find('\n', at) - at);
    EXPECT_EQ(groups.find_first_of("0123456789"), std::string::npos) << groups;
    // Its socket's filter is locked (the unprivileged process cannot take
    // it off to see everything), and the socket never waits.
    const int socket = socket_of(service->pid());
    ASSERT_GE(socket, 0);
    const int any = 0;
    EXPECT_EQ(setsockopt(socket, SOL_SOCKET, SO_DETACH_FILTER, &any, sizeof any), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_NE(fcntl(socket, F_GETFL) & O_NONBLOCK, 0);
    close(socket);
    struct stat file;
    ASSERT_EQ(lstat(output().c_str(), &file), 0);
    EXPECT_TRUE(S_ISREG(file.st_mode));
    EXPECT_EQ(file.st_mode & 07777, 0644u);
    EXPECT_EQ(file.st_uid, 65534u);
    EXPECT_EQ(testkit::load(target), elsewhere);

    std::vector<bytes> frames;  // those a 1500-byte MTU carries: 8 clients
    for (const bytes& frame : testkit::mixed_frames()) {
        if (frame.size() <= 1514) frames.push_back(frame);
    }
    bytes other_port = testkit::build(testkit::request_from(200));
    other_port[37] = 68;  // UDP destination port 68
    for (const bytes& frame : frames) send(frame);
    send(other_port);
    const std::string expected = reports_on(testkit::capture_of(frames));
    EXPECT_TRUE(reports_on(output_with(8)) == expected);
    service->send(SIGTERM);
    const program_result ended = service->finish();
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(ended.err, "Warning: Replacing " + output() + ": a symbolic link, not followed\n");

    service = start();
    EXPECT_TRUE(reports_on(testkit::load(output())) == expected);
    std::vector<bytes> more = frames;
    more.push_back(testkit::build(testkit::request_from(100)));
    send(more.back());
    EXPECT_TRUE(reports_on(output_with(9)) == reports_on(testkit::capture_of(more)));
    ASSERT_EQ(std::system("ip link del veth0"), 0);
    const program_result lost = service->finish();
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.err.rfind("Error: Lost interface veth1: ", 0), 0u) << lost.err;
    EXPECT_EQ(frames_of(testkit::load(output())).size(), 9u);
}

// What a start finds at the output: an earlier file of root's that only
// root may read (read, by a process that runs as nobody), one that is no
// capture (left as it is, and the start refused), more clients than the
// bound holds (the oldest dropped, and said so), files an earlier run left
// when it was killed during a rewrite (its own removed, no one else's),
// and another service that keeps the output.
TEST_F(LiveCaptureTest, AStartTakesWhatItFindsWithoutDestroyingIt) {
    const std::string five = testkit::capture_of(requests(0, 5));
    const std::string leftover = output() + ".AbC123", others = output() + ".XyZ789";
    struct row {
        const char* name;
        std::string earlier;
        mode_t mode;
        std::vector<std::string> options;
        std::size_t clients;  // in the file once started; none: refused
        std::string err;
    } rows[] = {
        {"root's, 0600", five, 0600, {}, 5, ""},
        {"no capture", "garbage", 0644, {}, 0,
         "Error: Unable to read earlier clients from " + output() +
             ": unknown file format; it is left as it is\n"},
        {"more than the bound", five, 0644, {"--max-clients=2"}, 2,
         "Warning: Dropped 3 clients whose last request was oldest, to keep within 2 clients and "
         "2097152 bytes\n"},
        {"leftovers", five, 0644, {}, 5,
         "Warning: Removed 1 unfinished files an earlier run left beside " + output() + "\n"},
    };
    for (const row& r : rows) {
        ASSERT_TRUE(testkit::save(output(), r.earlier));
        ASSERT_EQ(chmod(output().c_str(), r.mode), 0);
        const bool leftovers = std::string(r.name) == "leftovers";
        if (leftovers) {
            ASSERT_TRUE(testkit::save(leftover, five) && testkit::save(others, five));
            ASSERT_EQ(chown(leftover.c_str(), 65534, 65534) | chown(others.c_str(), 1000, 1000), 0);
        }
        auto service = start(r.options);
        if (r.clients != 0) {
            EXPECT_EQ(frames_of(output_with(r.clients)).size(), r.clients) << r.name;
            service->send(SIGTERM);
        }
        const program_result ended = service->finish();
        EXPECT_EQ(ended.err, r.err) << r.name;
        EXPECT_EQ(ended.status, r.clients != 0 ? 0 : 1) << r.name;
        if (r.clients == 0) {
            EXPECT_EQ(testkit::load(output()), r.earlier) << r.name;
        }
        if (leftovers) {
            EXPECT_FALSE(std::filesystem::exists(leftover));
            EXPECT_EQ(testkit::load(others), five);
        }
    }
    // One service per output: a second start is refused, the first goes on.
    auto first = start();
    program_result second = start()->finish();
    EXPECT_EQ(second.err, "Error: " + output() + " is kept by another dhcpident-capture (pid " +
                              std::to_string(first->pid()) + ")\n");
    EXPECT_EQ(second.status, 1);
    send(testkit::build(testkit::request_from(9)));
    EXPECT_EQ(frames_of(output_with(6)).size(), 6u);
    first->send(SIGTERM);
    EXPECT_EQ(first->finish().status, 0);
    // A lock that is not root's is never used: found by what it says it
    // keeps, given to another user, then refused.
    std::string lock;
    for (const auto& entry : std::filesystem::directory_iterator("/var/run")) {
        if (!entry.path().filename().string().starts_with("dhcpident-capture.") || !entry.is_regular_file()) {
            continue;
        }
        const std::string text = testkit::load(entry.path());
        if (text.size() > output().size() && text.ends_with(" " + output() + "\n")) lock = entry.path();
    }
    ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0) << lock;
    second = start()->finish();
    EXPECT_EQ(second.err, "Error: Unable to lock " + output() + ": Operation not permitted\n");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(unlink(lock.c_str()), 0);
}

// 50,000 new clients while a reader reads the file again and again: each
// read finds it whole, and the service's memory and its file stay within
// --max-memory. Then the kernel filter, against libpcap's own compilation.
TEST_F(LiveCaptureTest, AFloodStaysWithinItsBoundsAndNoReadFindsAFileTorn) {
    auto service = start({"--max-memory=1M"});
    const long before = service->anonymous_kib();
    int reads = 0, torn = 0;
    const std::vector<bytes> flood = requests(0, 50000);
    for (std::uint32_t n = 0; n < flood.size(); ++n) {
        send(flood[n]);
        if (n % 50 != 49) continue;
        ++reads;
        torn += !testkit::frames_of(testkit::load(output())).whole;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    const long growth = service->anonymous_kib() - before;
    EXPECT_EQ(torn, 0) << reads;
    EXPECT_LE(testkit::load(output()).size(), std::size_t{1} << 20);
#ifndef DHCPIDENT_SANITIZED
    EXPECT_LE(growth, 1024 + 256);
#endif
    std::printf("capture service: 50,000 clients live, --max-memory=1M: %ld KiB more memory, %d reads, "
                "none torn\n", growth, reads);
    service->send(SIGTERM);
    const program_result r = service->finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("Warning: Dropped ", 0), 0u) << r.err;

    char error[PCAP_ERRBUF_SIZE];
    pcap_t* live = pcap_create("veth1", error);
    pcap_set_snaplen(live, static_cast<int>(dhcpident::live_snaplen));
    ASSERT_GE(pcap_activate(live), 0);
    bpf_program compiled;
    ASSERT_EQ(pcap_compile(live, &compiled, dhcpident::dhcp_filter_expression, 1, PCAP_NETMASK_UNKNOWN), 0);
    const bpf_program kept = dhcpident::dhcp_filter_program();
    ASSERT_EQ(compiled.bf_len, kept.bf_len);
    for (unsigned i = 0; i < kept.bf_len; ++i) {
        const bpf_insn &a = compiled.bf_insns[i], &b = kept.bf_insns[i];
        EXPECT_TRUE(a.code == b.code && a.jt == b.jt && a.jf == b.jf && a.k == b.k) << i;
    }
    pcap_freecode(&compiled);
    pcap_close(live);
}

// Bursts of new clients sent as fast as a socket writes them, with room
// for their clients: 1,000 are kept whole at the default buffer; of 5,000,
// what the kernel drops is told, to the frame.
TEST_F(LiveCaptureTest, ABurstIsKeptWholeOrItsLossTold) {
    for (const std::uint32_t burst : {1000u, 5000u}) {
        auto service = start({"--max-memory=16M"});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (const bytes& frame : requests(burst * 10, burst)) send(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        service->send(SIGTERM);
        const program_result r = service->finish();
        const std::size_t kept = frames_of(testkit::load(output())).size();
        unsigned long told = 0;
        for (std::size_t at = 0; (at = r.err.find("Warning: The kernel dropped ", at)) != std::string::npos; ++at) {
            told += std::stoul(r.err.substr(at + 28));
            EXPECT_EQ(r.err.find(" frames on veth1 (capture buffer full)\n", at), r.err.find(' ', at + 28)) << r.err;
        }
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(kept + told, burst) << r.err;
        if (burst == 1000) {
            EXPECT_EQ(kept, burst) << r.err;
        }
        std::printf("capture service: a burst of %u new clients: %zu kept, %lu told dropped\n",
                    static_cast<unsigned>(burst), kept, told);
        std::filesystem::remove(output());
    }
}

// The file is replaced at most once an interval while clients change, and
// never again once they stop: each replacement is a new file (inode).
TEST_F(LiveCaptureTest, TheFileIsReplacedAtMostOnceAnIntervalAndOnlyOnChange) {
    auto service = start({"--interval=2"});
    auto inode = [&] {
        struct stat file;
        return stat(output().c_str(), &file) == 0 ? file.st_ino : 0;
    };
    std::vector<ino_t> seen{inode()};
    std::uint32_t next = 0;
    const auto watch = [&](std::chrono::milliseconds how_long, bool new_clients) {
        const auto until = std::chrono::steady_clock::now() + how_long;
        while (std::chrono::steady_clock::now() < until) {
            testkit::dhcp_frame f = testkit::request_from(next++);
            if (!new_clients) f.message_type = 1;
            send(testkit::build(f));
            if (const ino_t now = inode(); now != seen.back()) seen.push_back(now);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    watch(std::chrono::milliseconds(5000), true);  // a new client every 20 ms
    // Within 5 s of changes, at most one file an interval, besides those
    // of the start.
    EXPECT_LE(seen.size(), 4u);
    EXPECT_GE(seen.size(), 2u);
    // Then only frames that change no client (DHCPDISCOVERs): once the last
    // changes are written, nothing is.
    watch(std::chrono::milliseconds(2500), false);
    const std::size_t written = seen.size();
    watch(std::chrono::milliseconds(4500), false);
    EXPECT_EQ(seen.size(), written);
    service->send(SIGTERM);
    EXPECT_EQ(service->finish().status, 0);
}

// A stderr nobody reads, a pipe held full from the start: the capture and
// the rewrites go on, warnings and all, and a termination signal still
// ends the service at once with its last write and status 0.
TEST_F(LiveCaptureTest, AStderrNobodyReadsHoldsNothingUp) {
    auto service = start({"-i", "veth1", "-i", "nosuch0", "--max-clients=1"}, true);
    for (const bytes& frame : requests(0, 50)) send(frame);
    const std::vector<bytes> last = frames_of(output_with(1));
    ASSERT_EQ(last.size(), 1u);
    send(testkit::build(testkit::request_from(77)));
    for (int i = 0; i < 300 && frames_of(testkit::load(output())) == last; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto sent = std::chrono::steady_clock::now();
    service->send(SIGTERM);
    const program_result r = service->finish();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(r.status, 0);
    EXPECT_LT(took.count(), 2.0);
    EXPECT_EQ(frames_of(testkit::load(output())), std::vector<bytes>{testkit::build(testkit::request_from(77))});
}

// The output's file system full at a rewrite: the previous file stays
// whole, a warning says so, nothing of the new file is left behind, and
// the last try at SIGTERM is an error.
TEST_F(LiveCaptureTest, AFullFileSystemLeavesThePreviousFileWhole) {
    ASSERT_EQ(mount("small", dir_.path.c_str(), "tmpfs", 0, "size=48k,mode=1777"), 0);
    auto service = start();
    for (const bytes& frame : requests(0, 20)) send(frame);
    const std::string twenty = output_with(20);
    ASSERT_EQ(frames_of(twenty).size(), 20u);
    // Whatever room is left, taken.
    std::FILE* filler = std::fopen((dir_.path + "/filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    static const char page[4096] = {};
    while (std::fwrite(page, 1, sizeof page, filler) == sizeof page && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
    for (const bytes& frame : requests(20, 5)) send(frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(testkit::load(output()), twenty);
    service->send(SIGTERM);
    const program_result r = service->finish();
    const std::string full = output() + ": No space left on device";
    EXPECT_EQ(r.err.rfind("Warning: Unable to write " + full + ", trying again every 1 s\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Error: Unable to write " + full + "\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"capfileall.pcap", "filler"}));
}

// A device that cannot be opened, or goes away, costs only itself: the
// others are captured, and the service ends only with the last of them.
TEST_F(LiveCaptureTest, ABadDeviceCostsOnlyItself) {
    ASSERT_EQ(std::system("ip link add veth2 type veth peer name veth3 && ip link set veth2 up && "
                          "ip link set veth3 up"), 0);
    auto service = start({"-i", "veth1", "-i", "nosuch0", "-i", "veth3"});
    ASSERT_EQ(std::system("ip link del veth2"), 0);
    send(testkit::build(testkit::request_from(5)));
    EXPECT_EQ(frames_of(output_with(1)).size(), 1u);
    service->send(SIGTERM);
    const program_result r = service->finish();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err.rfind("Warning: Unable to open interface nosuch0: No such device exists; capturing "
                          "on the others\nWarning: Lost interface veth3: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("; capturing on the others\n", 100), std::string::npos) << r.err;

    program_setup unprivileged = service_setup({"-i", "veth1"});
    unprivileged.run_as = 1000;
    program_setup without_setuid = service_setup({"-i", "veth1", "-w", output()});
    without_setuid.without_setuid_capability = true;
    expect_rows({
        {"root that cannot change its user", without_setuid, "",
         "Error: Unable to drop privileges: Operation not permitted\n", 1},
        {"no device it can open", service_setup({"-i", "veth9", "-i", "lo"}), "",
         "Error: Unable to open interface veth9: No such device exists\n"
         "Error: Unable to open interface lo: That device is not up\n", 1},
        {"not root", unprivileged, "", "Error: You need to have root privileges\n", 1},
    });
}

}  // namespace
