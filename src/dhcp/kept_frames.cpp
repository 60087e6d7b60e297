#include "dhcp/kept_frames.h"

#include <cstring>

#include "dhcp/request.h"

namespace dhcpident {

client_table* create_frame_table(client_limits limits, hash_key key, std::size_t largest_frame) {
    return create_client_table(
        limits, key, table_shape{sizeof(frame_header) + largest_frame, sizeof(frame_header), true});
}

void store_request_frame(client_table& table, std::uint16_t link_header_len,
                         const frame_header& header, byte_view frame, frame_counts& counts) {
    byte_view address;
    if (!is_dhcp_request(frame, link_header_len, address)) return;
    store_outcome outcome = store_outcome::stored;
    unsigned char* room =
        store_entry(table, client_key(address), sizeof header + frame.size(), outcome);
    if (room == nullptr) {
        ++counts.refused[static_cast<std::size_t>(outcome)];
        return;
    }
    std::memcpy(room, &header, sizeof header);
    frame.copy_to(0, frame.size(), room + sizeof header);
    ++counts.kept;
}

bool stored_request_frame(const client_table& table, std::uint32_t i, byte_view& record) {
    byte_view key;
    return client_entry(table, i, key, record);
}

}  // namespace dhcpident
