#include "driver/live_capture.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace dhcpident {
namespace {

// The kernel's buffer: some hundred frames of the snap length, enough for
// the bursts of a LAN at a router's pace; a flood beyond it is dropped by
// the kernel, not queued.
constexpr int kernel_buffer_bytes = 256 << 10;

// dhcp_filter_expression as libpcap 1.10 compiles it for a live Linux
// Ethernet interface with live_snaplen, optimised: kept here, not compiled
// at start, since libpcap's compiler would take the program linked
// statically far past its size. The tests compile the expression on a live
// interface and compare. [vlanp] (0xfffff030) is the kernel's mark of a
// tag it took off the frame, when the frame's own bytes hold none.
constexpr bpf_insn dhcp_filter[] = {
    {0x00, 0, 0, 0x00000000}, {0x02, 0, 0, 0x00000000}, {0x02, 0, 0, 0x00000001},
    {0x28, 0, 0, 0x0000000c}, {0x15, 0, 4, 0x000086dd}, {0x30, 0, 0, 0x00000014},
    {0x15, 0, 10, 0x00000011}, {0x28, 0, 0, 0x00000038}, {0x15, 41, 8, 0x00000043},
    {0x15, 0, 7, 0x00000800}, {0x30, 0, 0, 0x00000017}, {0x15, 0, 5, 0x00000011},
    {0x28, 0, 0, 0x00000014}, {0x45, 3, 0, 0x00001fff}, {0xb1, 0, 0, 0x0000000e},
    {0x48, 0, 0, 0x00000010}, {0x15, 33, 0, 0x00000043}, {0x30, 0, 0, 0xfffff030},
    {0x15, 7, 0, 0x00000001}, {0x00, 0, 0, 0x00000004}, {0x02, 0, 0, 0x00000000},
    {0x02, 0, 0, 0x00000001}, {0x28, 0, 0, 0x0000000c}, {0x15, 2, 0, 0x00008100},
    {0x15, 1, 0, 0x000088a8}, {0x15, 0, 25, 0x00009100}, {0x61, 0, 0, 0x00000001},
    {0x48, 0, 0, 0x0000000c}, {0x15, 0, 6, 0x000086dd}, {0x61, 0, 0, 0x00000000},
    {0x50, 0, 0, 0x00000014}, {0x15, 0, 19, 0x00000011}, {0x61, 0, 0, 0x00000000},
    {0x48, 0, 0, 0x00000038}, {0x15, 15, 16, 0x00000043}, {0x15, 0, 15, 0x00000800},
    {0x61, 0, 0, 0x00000000}, {0x50, 0, 0, 0x00000017}, {0x15, 0, 12, 0x00000011},
    {0x61, 0, 0, 0x00000000}, {0x48, 0, 0, 0x00000014}, {0x45, 9, 0, 0x00001fff},
    {0x61, 0, 0, 0x00000000}, {0x50, 0, 0, 0x0000000e}, {0x54, 0, 0, 0x0000000f},
    {0x64, 0, 0, 0x00000002}, {0x0c, 0, 0, 0x00000000}, {0x07, 0, 0, 0x00000000},
    {0x48, 0, 0, 0x00000010}, {0x15, 0, 1, 0x00000043}, {0x06, 0, 0, live_snaplen},
    {0x06, 0, 0, 0x00000000},
};

}  // namespace

bpf_program dhcp_filter_program() {
    // Built here: a constant holding the pointer would be relocated at load
    // time, and cost the router program a page.
    return bpf_program{sizeof dhcp_filter / sizeof dhcp_filter[0],
                       const_cast<bpf_insn*>(dhcp_filter)};
}

pcap_t* open_interface(const char* interface, char* error_text) {
    pcap_t* capture = pcap_create(interface, error_text);
    if (capture == nullptr) return nullptr;
    auto fail = [&](const char* why) -> pcap_t* {
        std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s", why);
        pcap_close(capture);
        return nullptr;
    };
    pcap_set_snaplen(capture, static_cast<int>(live_snaplen));
    pcap_set_immediate_mode(capture, 1);
    pcap_set_buffer_size(capture, kernel_buffer_bytes);
    const int status = pcap_activate(capture);
    if (status < 0) {
        // libpcap's own text when it gave one, which names the cause.
        const char* text = pcap_geterr(capture);
        char why[PCAP_ERRBUF_SIZE];
        std::snprintf(why, sizeof why, "%s", text[0] != '\0' ? text : pcap_statustostr(status));
        return fail(why);
    }
    if (pcap_datalink(capture) != DLT_EN10MB) {
        return fail("not an Ethernet interface, which the kernel filter is for");
    }
    bpf_program program = dhcp_filter_program();
    if (pcap_setfilter(capture, &program) != 0) return fail(pcap_geterr(capture));
    char why[PCAP_ERRBUF_SIZE];
    if (pcap_setnonblock(capture, 1, why) != 0) return fail(why);
    return capture;
}

bool drop_to_nobody() {
    // The bounding set first: dropping from it takes CAP_SETPCAP, which
    // goes with the user id.
    for (int capability = 0; prctl(PR_CAPBSET_READ, capability, 0, 0, 0) >= 0; ++capability) {
        if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) return false;
    }
    if (setgroups(0, nullptr) != 0 || setgid(unprivileged_id) != 0 ||
        setuid(unprivileged_id) != 0) {
        return false;
    }
    // The change of user id clears the permitted and effective sets; the
    // inheritable one is cleared here.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capset, &header, none) != 0) return false;
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
    // Root must be out of reach: a user id that could be set back would be.
    if (setuid(0) == 0 || getuid() != unprivileged_id || geteuid() != unprivileged_id ||
        getgid() != unprivileged_id || getegid() != unprivileged_id) {
        errno = EPERM;
        return false;
    }
    return true;
}

}  // namespace dhcpident
