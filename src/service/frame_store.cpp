#include "service/frame_store.h"

#include <cstdio>

#include "base/diagnostics.h"
#include "common/link_type.h"
#include "dhcp/hash_key.h"

namespace dhcpident {
namespace {

// Why a request was refused. A table that drops refuses one only when
// dropping every other client would not make room for it. A switch, not a
// table: a constant table of texts would be relocated at load time.
const char* refusal_reason(store_outcome outcome) {
    switch (outcome) {
    case store_outcome::table_full:
        return "more than --max-clients holds";
    case store_outcome::over_budget:
        return "larger than --max-memory holds";
    case store_outcome::crowded:
        return "client index crowded";
    case store_outcome::out_of_memory:
    case store_outcome::stored:
        break;
    }
    return "out of memory";
}

}  // namespace

frame_store make_frame_store(client_limits limits, int link_type, std::uint32_t snaplen,
                             std::size_t largest_frame) {
    frame_store store{create_frame_table(limits, random_hash_key(), largest_frame), link_type, 0,
                      snaplen, {}, 0, {}, {}};
    set_link_header_len(link_type, store.link_header_len);
    return store;
}

void store_pcap_frame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    auto& store = *reinterpret_cast<frame_store*>(user);
    const frame_header record{static_cast<std::uint32_t>(header->ts.tv_sec),
                              static_cast<std::uint32_t>(header->ts.tv_usec), header->caplen,
                              header->len};
    store_request_frame(*store.table, store.link_header_len, record,
                        byte_view(bytes, header->caplen), store.counts);
    if (header->caplen > store.snaplen) store.snaplen = header->caplen;
}

bool read_frames(pcap_t* capture, frame_store& store) {
    const int snaplen = pcap_snapshot(capture);
    if (snaplen > 0 && static_cast<std::uint32_t>(snaplen) > store.snaplen) {
        store.snaplen = static_cast<std::uint32_t>(snaplen);
    }
    return pcap_loop(capture, -1, store_pcap_frame, reinterpret_cast<u_char*>(&store)) !=
           PCAP_ERROR;
}

bool losses_untold(const frame_store& store) {
    if (figures_of(*store.table).dropped != store.dropped_told) return true;
    for (std::uint32_t refused : store.counts.refused) {
        if (refused != 0) return true;
    }
    return false;
}

void tell_losses(frame_store& store, milliseconds now_ms, bool ending) {
    const std::uint32_t dropped = figures_of(*store.table).dropped;
    if (dropped != store.dropped_told && store.dropped_clock.due(now_ms, ending)) {
        const client_limits& limits = limits_of(*store.table);
        say("Warning: Dropped %u clients whose last request was oldest, to keep within "
                     "%u clients and %lu bytes\n",
                     static_cast<unsigned>(dropped - store.dropped_told),
                     static_cast<unsigned>(limits.max_clients),
                     static_cast<unsigned long>(limits.max_memory));
        store.dropped_told = dropped;
    }
    for (std::size_t reason = 0; reason < store_outcomes; ++reason) {
        std::uint32_t& refused = store.counts.refused[reason];
        if (refused == 0 || !store.refused_clocks[reason].due(now_ms, ending)) continue;
        say("Warning: %u requests not kept: %s\n",
                     static_cast<unsigned>(refused),
                     refusal_reason(static_cast<store_outcome>(reason)));
        refused = 0;
    }
}

}  // namespace dhcpident
