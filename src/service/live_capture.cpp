#include "service/live_capture.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dhcpident {
namespace {

// Scratch memory words of the filter: where the IP header lies behind the
// Ethernet header, 0 or the 4 bytes of a tag in the frame.
constexpr std::uint32_t ip_offset_word = 0, ether_offset_word = 1;
// The kernel's mark of a tag it took off the frame (the frame's own bytes
// then hold none), 1 when it did: its ancillary data SKF_AD_OFF (-0x1000)
// + SKF_AD_VLAN_TAG_PRESENT (48), from linux/filter.h, which would
// redefine pcap's BPF macros.
constexpr std::uint32_t tag_present = 0xfffff000u + 48;
constexpr std::uint32_t ipv4 = 0x0800, ipv6 = 0x86dd, udp = 17, dhcp_server_port = 67;
constexpr std::uint32_t fragment_offset_mask = 0x1fff;

// dhcp_filter_expression as libpcap 1.10 compiles it for a live Linux
// Ethernet interface with live_snaplen, optimised, step for step: kept
// here, not compiled at start, since libpcap's compiler would take the
// program linked statically far past its size. The tests compile the
// expression on a live interface and compare. A jump's offsets count the
// steps it passes over; each comment names the step it lands on. The
// first half is "udp dst port 67" on the frame as it is, the second the
// same behind a tag, in the frame or taken off by the kernel.
constexpr bpf_insn dhcp_filter[] = {
    /*  0 */ BPF_STMT(BPF_LD | BPF_W | BPF_IMM, 0),        // no tag: the headers where they are
    /*  1 */ BPF_STMT(BPF_ST, ip_offset_word),
    /*  2 */ BPF_STMT(BPF_ST, ether_offset_word),
    /*  3 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),       // EtherType
    /*  4 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ipv6, 0, 4),  // IPv6: 5, else 9
    /*  5 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 20),       // IPv6 next header
    /*  6 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, udp, 0, 10),  // UDP: 7, else 17
    /*  7 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 56),       // UDP destination port
    /*  8 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, dhcp_server_port, 41, 8),  // 67: keep (50), else 17
    /*  9 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ipv4, 0, 7),  // IPv4: 10, else 17
    /* 10 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 23),       // IPv4 protocol
    /* 11 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, udp, 0, 5),  // UDP: 12, else 17
    /* 12 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 20),       // flags and fragment offset
    /* 13 */ BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, fragment_offset_mask, 3, 0),  // a later fragment: 17
    /* 14 */ BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 14),      // X: the IPv4 header's length
    /* 15 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16),       // UDP destination port, behind it
    /* 16 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, dhcp_server_port, 33, 0),  // 67: keep (50), else 17
    /* 17 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, tag_present),
    /* 18 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 1, 7, 0),  // taken off: the headers stay (26)
    /* 19 */ BPF_STMT(BPF_LD | BPF_W | BPF_IMM, 4),        // a tag in the frame: 4 bytes on
    /* 20 */ BPF_STMT(BPF_ST, ip_offset_word),
    /* 21 */ BPF_STMT(BPF_ST, ether_offset_word),
    /* 22 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),       // the tag's type
    /* 23 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x8100, 2, 0),  // 802.1Q: 26
    /* 24 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x88a8, 1, 0),  // 802.1ad: 26
    /* 25 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0x9100, 0, 25),  // QinQ: 26, else drop (51)
    /* 26 */ BPF_STMT(BPF_LDX | BPF_W | BPF_MEM, ether_offset_word),
    /* 27 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 12),       // EtherType behind the tag
    /* 28 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ipv6, 0, 6),  // IPv6: 29, else 35
    /* 29 */ BPF_STMT(BPF_LDX | BPF_W | BPF_MEM, ip_offset_word),
    /* 30 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 20),       // IPv6 next header
    /* 31 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, udp, 0, 19),  // UDP: 32, else drop (51)
    /* 32 */ BPF_STMT(BPF_LDX | BPF_W | BPF_MEM, ip_offset_word),
    /* 33 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 56),       // UDP destination port
    /* 34 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, dhcp_server_port, 15, 16),  // 67: keep (50), else drop (51)
    /* 35 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ipv4, 0, 15),  // IPv4: 36, else drop (51)
    /* 36 */ BPF_STMT(BPF_LDX | BPF_W | BPF_MEM, ip_offset_word),
    /* 37 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 23),       // IPv4 protocol
    /* 38 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, udp, 0, 12),  // UDP: 39, else drop (51)
    /* 39 */ BPF_STMT(BPF_LDX | BPF_W | BPF_MEM, ip_offset_word),
    /* 40 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 20),       // flags and fragment offset
    /* 41 */ BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, fragment_offset_mask, 9, 0),  // a later fragment: drop (51)
    /* 42 */ BPF_STMT(BPF_LDX | BPF_W | BPF_MEM, ip_offset_word),
    /* 43 */ BPF_STMT(BPF_LD | BPF_B | BPF_IND, 14),       // the IPv4 header's length, in words,
    /* 44 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f),
    /* 45 */ BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),       // in bytes,
    /* 46 */ BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),       // behind the tag
    /* 47 */ BPF_STMT(BPF_MISC | BPF_TAX, 0),
    /* 48 */ BPF_STMT(BPF_LD | BPF_H | BPF_IND, 16),       // UDP destination port, behind it
    /* 49 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, dhcp_server_port, 0, 1),  // 67: keep (50), else drop (51)
    /* 50 */ BPF_STMT(BPF_RET | BPF_K, live_snaplen),      // keep: the snap length's bytes
    /* 51 */ BPF_STMT(BPF_RET | BPF_K, 0),                 // drop
};
static_assert(sizeof dhcp_filter / sizeof dhcp_filter[0] == 52);

}  // namespace

bpf_program dhcp_filter_program() {
    // Built here: a constant holding the pointer would be relocated at load
    // time, and cost the router program a page.
    return bpf_program{sizeof dhcp_filter / sizeof dhcp_filter[0],
                       const_cast<bpf_insn*>(dhcp_filter)};
}

pcap_t* open_interface(const char* interface, std::size_t buffer_bytes, char* error_text) {
    pcap_t* capture = pcap_create(interface, error_text);
    if (capture == nullptr) return nullptr;
    auto fail = [&](const char* why) -> pcap_t* {
        std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s", why);
        pcap_close(capture);
        return nullptr;
    };
    pcap_set_snaplen(capture, static_cast<int>(live_snaplen));
    // Not immediate: the kernel then packs frames into its buffer as they
    // come (TPACKET_V3), some 400 bytes for a request where immediate mode
    // gives every frame a slot of the snap length, and hands them over
    // within the timeout, well within an interval.
    pcap_set_timeout(capture, delivery_timeout_ms);
    pcap_set_buffer_size(capture, static_cast<int>(buffer_bytes));
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
    // Locked while root: the process that reads the frames, unprivileged,
    // can then neither take the filter off nor change it, and sees only
    // what it passes.
    const int locked = 1;
    if (setsockopt(pcap_fileno(capture), SOL_SOCKET, SO_LOCK_FILTER, &locked, sizeof locked) != 0) {
        return fail(std::strerror(errno));
    }
    char why[PCAP_ERRBUF_SIZE];
    if (pcap_setnonblock(capture, 1, why) != 0) return fail(why);
    return capture;
}

}  // namespace dhcpident
