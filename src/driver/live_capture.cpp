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

// Client-to-server DHCP, as a client or a relay agent sends it; "vlan"
// moves the offsets of what follows it by the tag, or tests the tag the
// kernel took off the frame.
constexpr char dhcp_filter[] = "udp dst port 67 or (vlan and udp dst port 67)";

}  // namespace

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
    bpf_program program;
    if (pcap_compile(capture, &program, dhcp_filter, 1, PCAP_NETMASK_UNKNOWN) != 0) {
        return fail(pcap_geterr(capture));
    }
    const int set = pcap_setfilter(capture, &program);
    pcap_freecode(&program);
    if (set != 0) return fail(pcap_geterr(capture));
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
