#include "dhcp/client_table.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "dhcp/siphash.h"
#include "text/render.h"

namespace dhcpident {
namespace {

// One client: its key (the address bytes its text shows), then its last
// entry, in a block of sizeof(client_record) + capacity bytes inside a
// chunk. A later entry is written over them; when it does not fit, the
// client moves to a larger block and the old one is a hole until the
// chunks are compacted.
struct client_record {
    std::uint32_t owner;       // the client's number; no_owner for a hole
    std::uint32_t capacity;    // bytes behind the record
    std::uint32_t entry_size;  // bytes of the entry, behind the key
    std::uint8_t key_length;
    bool withheld;             // its last entry did not fit: none is given

    unsigned char* key() { return reinterpret_cast<unsigned char*>(this + 1); }
    const unsigned char* key() const { return reinterpret_cast<const unsigned char*>(this + 1); }
    unsigned char* entry() { return key() + key_length; }
};

constexpr std::uint32_t no_owner = 0xFFFFFFFF;

// Room behind a record: what it needs now and some more, a quarter of what
// may change between one request of a client and the next (a host name, a
// lease number: all but the key and the entry's steady bytes) and 16
// bytes, so that a record seldom has to grow; rounded so that the next
// block's header stays aligned.
constexpr std::size_t room_for(std::size_t needed, std::size_t steady) {
    constexpr std::size_t align = alignof(client_record);
    const std::size_t changing = needed > steady ? needed - steady : 0;
    return (needed + changing / 4 + 16 + align - 1) / align * align;
}

std::size_t block_size(const client_record& record) { return sizeof record + record.capacity; }

// Chunk sizes: a thirty-second of the budget, so that the table holds few
// chunks, from a page to 1 MiB, so that none lies mostly unused.
constexpr std::size_t max_chunk_bytes = std::size_t{1} << 20;

// A chunk of records, packed from its start; used bytes in use, holes
// included.
struct chunk {
    unsigned char* base;
    std::size_t used;
};

// A slot of the index: the hash beside the record's number, so that a probe
// rarely has to reach the record itself, which lies elsewhere in memory, to
// tell one client from another.
struct client_slot {
    std::uint32_t hash;
    std::uint32_t record;  // index + 1; 0 is free
};

// A client's neighbours in the order of last entries, by number, for a
// table that drops the oldest.
struct age_link {
    std::uint32_t older, newer;  // no_owner at either end
};

bool same_key(const client_record& record, byte_view key) {
    if (record.key_length != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (record.key()[i] != key.u8(i)) return false;
    }
    return true;
}

}  // namespace

// records[0, count) are the clients in the order of their first requests,
// each a block in one of chunks[0, chunk_count), which are filled in turn;
// a dropped client's is null, and live counts the others. The index is
// open addressing with linear probing over slot_count slots, a power of
// two at least twice live (0 before the first client): each live record i
// sits in one slot {hash, i + 1}, among the max_probe slots from slot
// hash & (slot_count - 1) on, without a free slot before it (a slot freed
// by a drop is filled again from behind it). charged is every byte mapped
// for the record list, the age links, the index and the chunks, within
// limits.max_memory; hole_bytes is what holes take in the chunks. A table
// that drops the oldest keeps its live clients in a list from oldest to
// newest last entry, through ages[0, records_capacity).
struct client_table {
    page_source pages;
    std::size_t page_bytes;
    client_limits limits;
    std::size_t largest_entry;
    std::size_t steady_bytes;
    hash_key key;
    bool drop_oldest;
    std::uint32_t count;
    std::uint32_t live;
    std::uint32_t dropped;
    std::uint32_t records_capacity;
    client_record** records;
    age_link* ages;
    std::uint32_t oldest, newest;
    std::uint32_t slot_count;
    client_slot* slots;
    std::size_t charged;
    std::uint32_t longest_probe;
    // Why a new client was refused, once one was, in a table that refuses:
    // every later one is refused too, even one that would fit, so that what
    // is reported is the clients up to a point.
    std::optional<store_outcome> closed;
    std::size_t chunk_bytes;
    std::size_t hole_bytes;
    std::uint32_t compactions;
    std::size_t chunk_count;
    std::size_t chunk_capacity;
    chunk* chunks;  // chunk_capacity of them, from the heap at the start
};

namespace {

std::uint32_t hash_of(const client_table& table, byte_view key) {
    return static_cast<std::uint32_t>(siphash<1, 3>(table.key.k0, table.key.k1, key));
}

std::uint32_t hash_of(const client_table& table, const client_record& record) {
    return hash_of(table, byte_view(record.key(), record.key_length));
}

constexpr std::size_t round_to_pages(std::size_t bytes, std::size_t page_bytes) {
    return (bytes + page_bytes - 1) / page_bytes * page_bytes;
}

std::size_t whole_pages(const client_table& table, std::size_t bytes) {
    return round_to_pages(bytes, table.page_bytes);
}

// The bytes of one number in the record list's mapping: its record's
// pointer and, in a table that drops, its age links.
std::size_t record_list_item(const client_table& table) {
    return sizeof(client_record*) + (table.drop_oldest ? sizeof(age_link) : 0);
}

// bytes (whole pages) from the page source, within the budget; null, with
// why, when they are past it or cannot be had.
void* map(client_table& table, std::size_t bytes, store_outcome& why) {
    if (table.charged + bytes > table.limits.max_memory) {
        why = store_outcome::over_budget;
        return nullptr;
    }
    void* pages = table.pages.map(bytes);
    if (pages == nullptr) {
        why = store_outcome::out_of_memory;
        return nullptr;
    }
    table.charged += bytes;
    return pages;
}

void unmap(client_table& table, void* pages, std::size_t bytes) {
    table.pages.unmap(pages, bytes);
    table.charged -= bytes;
}

// Slides every record to the front of the chunks, in the order they lie,
// over the holes, and gives back the chunks left empty. A record that does
// not fit behind the one before it starts the next chunk, which is never
// beyond the one it comes from.
void compact(client_table& table) {
    std::size_t to = 0, at = 0;  // the chunk written into, and where
    for (std::size_t from = 0; from < table.chunk_count; ++from) {
        const chunk source = table.chunks[from];
        for (std::size_t offset = 0; offset < source.used;) {
            auto* record = reinterpret_cast<client_record*>(source.base + offset);
            const std::size_t size = block_size(*record);
            offset += size;
            if (record->owner == no_owner) continue;
            if (at + size > table.chunk_bytes) {
                table.chunks[to++].used = at;
                at = 0;
            }
            unsigned char* place = table.chunks[to].base + at;
            if (place != reinterpret_cast<unsigned char*>(record)) std::memmove(place, record, size);
            table.records[reinterpret_cast<client_record*>(place)->owner] =
                reinterpret_cast<client_record*>(place);
            at += size;
        }
    }
    table.chunks[to].used = at;
    while (table.chunk_count > to + 1) {
        unmap(table, table.chunks[--table.chunk_count].base, table.chunk_bytes);
    }
    table.hole_bytes = 0;
    ++table.compactions;
}

// A block of size bytes, at the end of the last chunk, or
// in a new chunk. Before a new chunk is taken, holes are compacted when
// they pass a quarter of the chunks, or when the budget would refuse it and
// they hold a chunk's worth. Compacting moves records: the caller finds its
// own through table.records.
client_record* place_block(client_table& table, std::size_t size, store_outcome& why) {
    for (int attempt = 0;; ++attempt) {
        if (table.chunk_count != 0) {
            chunk& last = table.chunks[table.chunk_count - 1];
            if (last.used + size <= table.chunk_bytes) {
                auto* record = reinterpret_cast<client_record*>(last.base + last.used);
                last.used += size;
                return record;
            }
        }
        // Each compaction moves every record, so it waits until it wins
        // back a good share: a quarter of the chunks, or at the budget a
        // chunk's worth; else a hostile LAN could have it run for every
        // request.
        const bool crowded_by_holes = table.hole_bytes > table.chunk_count * table.chunk_bytes / 4;
        const bool budget_reached = table.charged + table.chunk_bytes > table.limits.max_memory &&
                                    table.hole_bytes >= table.chunk_bytes;
        if (attempt == 0 && (crowded_by_holes || budget_reached)) {
            compact(table);
            continue;
        }
        if (table.chunk_count == table.chunk_capacity) {
            why = store_outcome::over_budget;
            return nullptr;
        }
        auto* base = static_cast<unsigned char*>(map(table, table.chunk_bytes, why));
        if (base == nullptr) return nullptr;
        table.chunks[table.chunk_count++] = {base, 0};
    }
}

// The one search of the index: from the slot of hash on, at most max_probe
// slots, the first that is free or holds a record for which known says
// true; null when there is none. distance is how far that slot lies.
template <typename Known>
client_slot* probe(client_slot* slots, std::uint32_t slot_count, std::uint32_t hash, Known known,
                   std::uint32_t& distance) {
    const std::uint32_t mask = slot_count - 1;
    for (distance = 0; distance < max_probe && distance < slot_count; ++distance) {
        client_slot& slot = slots[(hash + distance) & mask];
        if (slot.record == 0 || (slot.hash == hash && known(slot.record))) return &slot;
    }
    return nullptr;
}

// A free slot for a client the index does not hold.
client_slot* free_slot(client_slot* slots, std::uint32_t slot_count, std::uint32_t hash,
                       std::uint32_t& distance) {
    return probe(slots, slot_count, hash, [](std::uint32_t) { return false; }, distance);
}

void forget_client(client_table& table, std::uint32_t n);

// Puts every live client into slots (free, slot_count of them), in the
// order of first requests. A client that would lie beyond max_probe stops
// the fill, which then gives false; with drop_unplaced it is dropped
// instead (counted as dropped), as the index of a table must hold every
// client it keeps. Filled in the order the clients came, a table's clients
// lie as they did when each came in, the dropped ones never there, so it
// takes a larger index, or none, for one to lie further.
bool fill_index(client_table& table, client_slot* slots, std::uint32_t slot_count,
                bool drop_unplaced) {
    std::uint32_t longest = 0;
    bool all_placed = true;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        if (table.records[i] == nullptr) continue;
        const std::uint32_t hash = hash_of(table, *table.records[i]);
        std::uint32_t distance = 0;
        client_slot* slot = free_slot(slots, slot_count, hash, distance);
        if (slot == nullptr) {
            if (!drop_unplaced) return false;
            forget_client(table, i);
            all_placed = false;
            continue;
        }
        *slot = {hash, i + 1};
        if (distance > longest) longest = distance;
    }
    table.longest_probe = longest;
    return all_placed;
}

// Doubles the index. Refused, the index left as it was, when a client
// would lie beyond max_probe in the new one. (A larger index, filled in the
// same order, puts no client further from its own slot than the smaller
// one did; the refusal guards the bound whatever.)
store_outcome grow_index(client_table& table) {
    const std::uint32_t slot_count = table.slot_count == 0 ? 64 : table.slot_count * 2;
    store_outcome why = store_outcome::stored;
    const std::size_t bytes = whole_pages(table, slot_count * sizeof(client_slot));
    auto* slots = static_cast<client_slot*>(map(table, bytes, why));
    if (slots == nullptr) return why;  // fresh pages read as zero: every slot free
    const std::uint32_t longest = table.longest_probe;
    if (!fill_index(table, slots, slot_count, false)) {
        table.longest_probe = longest;
        unmap(table, slots, bytes);
        return store_outcome::crowded;
    }
    if (table.slots != nullptr) {
        unmap(table, table.slots, whole_pages(table, table.slot_count * sizeof(client_slot)));
    }
    table.slots = slots;
    table.slot_count = slot_count;
    return store_outcome::stored;
}

// The order of last entries: client n taken out of it, or put at its
// newest end.
void unlink_age(client_table& table, std::uint32_t n) {
    const age_link link = table.ages[n];
    (link.older == no_owner ? table.oldest : table.ages[link.older].newer) = link.newer;
    (link.newer == no_owner ? table.newest : table.ages[link.newer].older) = link.older;
}

void link_newest(client_table& table, std::uint32_t n) {
    table.ages[n] = {table.newest, no_owner};
    (table.newest == no_owner ? table.oldest : table.ages[table.newest].newer) = n;
    table.newest = n;
}

// Drops the client whose last entry is oldest, unless it is the only one
// and keep_newest says the newest stays: its slot is filled from behind
// (the slots after it that may move closer to their own slot do), its block
// becomes a hole (given back when the chunks are next compacted), its
// number stays unused. False when none was dropped.
bool drop_oldest_client(client_table& table, bool keep_newest) {
    const std::uint32_t n = table.oldest;
    if (n == no_owner || (keep_newest && n == table.newest)) return false;
    client_record* record = table.records[n];
    const std::uint32_t mask = table.slot_count - 1;
    std::uint32_t distance = 0;
    std::uint32_t hole = static_cast<std::uint32_t>(
        probe(table.slots, table.slot_count, hash_of(table, *record),
              [&](std::uint32_t r) { return r == n + 1; }, distance) - table.slots);
    for (std::uint32_t next = (hole + 1) & mask; table.slots[next].record != 0;
         next = (next + 1) & mask) {
        const std::uint32_t home = table.slots[next].hash & mask;
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            table.slots[hole] = table.slots[next];
            hole = next;
        }
    }
    table.slots[hole] = {0, 0};
    forget_client(table, n);
    return true;
}

// Client n, out of the index already, dropped: out of the order of last
// entries, its block a hole, its number unused.
void forget_client(client_table& table, std::uint32_t n) {
    client_record* record = table.records[n];
    if (table.drop_oldest) unlink_age(table, n);
    record->owner = no_owner;
    table.hole_bytes += block_size(*record);
    table.records[n] = nullptr;
    --table.live;
    ++table.dropped;
}

// Numbers the live clients anew from 0, in the same order, when dropped
// ones hold half the record list: their age links follow, and the index
// is filled again.
void renumber(client_table& table) {
    std::uint32_t next = 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        if (table.records[i] != nullptr) table.records[i]->owner = next++;
    }
    auto renamed = [&](std::uint32_t n) { return n == no_owner ? n : table.records[n]->owner; };
    for (std::uint32_t i = 0; i < table.count; ++i) {
        if (table.records[i] == nullptr) continue;
        table.ages[i] = {renamed(table.ages[i].older), renamed(table.ages[i].newer)};
    }
    table.oldest = renamed(table.oldest);
    table.newest = renamed(table.newest);
    for (std::uint32_t i = 0; i < table.count; ++i) {
        client_record* record = table.records[i];
        if (record == nullptr) continue;
        table.records[record->owner] = record;
        table.ages[record->owner] = table.ages[i];
    }
    table.count = next;
    std::memset(table.slots, 0, table.slot_count * sizeof(client_slot));
    fill_index(table, table.slots, table.slot_count, true);
}

// Room in the record list for one more number. The list and, in a table
// that drops, the age links lie in one mapping: capacity pointers, then
// capacity links. Numbers of dropped clients are taken back when they are
// half the list, or, when the budget refuses a larger list, once they are
// a thirty-second of it (not one drop at a time, each a pass over all).
store_outcome make_number(client_table& table, bool& renumbered) {
    renumbered = false;
    if (table.count < table.records_capacity) return store_outcome::stored;
    const std::uint32_t unused = table.count - table.live;
    if (unused != 0 && unused >= table.count / 2) {
        renumber(table);
        renumbered = true;
        return store_outcome::stored;
    }
    const std::size_t item = record_list_item(table);
    // A page of them first: what is mapped is a whole page anyway.
    const std::uint32_t capacity = table.records_capacity == 0
                                       ? static_cast<std::uint32_t>(table.page_bytes / item)
                                       : table.records_capacity * 2;
    store_outcome why = store_outcome::stored;
    void* grown = map(table, whole_pages(table, capacity * item), why);
    if (grown == nullptr) {
        if (why != store_outcome::over_budget || unused == 0 || unused < table.count / 32) {
            return why;
        }
        renumber(table);
        renumbered = true;
        return store_outcome::stored;
    }
    auto* records = static_cast<client_record**>(grown);
    if (table.count != 0) std::memcpy(records, table.records, table.count * sizeof *records);
    if (table.drop_oldest) {
        auto* ages = reinterpret_cast<age_link*>(records + capacity);
        if (table.count != 0) std::memcpy(ages, table.ages, table.count * sizeof *ages);
        table.ages = ages;
    }
    if (table.records != nullptr) {
        unmap(table, table.records, whole_pages(table, table.records_capacity * item));
    }
    table.records = records;
    table.records_capacity = capacity;
    return store_outcome::stored;
}

// The client of this slot's room for an entry of size bytes: its record,
// moved to a larger block when the entry needs more room than it has.
unsigned char* update(client_table& table, const client_slot& slot, byte_view key,
                      std::size_t size, store_outcome& why) {
    const std::uint32_t owner = slot.record - 1;
    if (key.size() + size > table.records[owner]->capacity) {
        const std::size_t room = room_for(key.size() + size, key.size() + table.steady_bytes);
        client_record* moved = place_block(table, sizeof(client_record) + room, why);
        client_record* record = table.records[owner];  // where compacting left it
        if (moved == nullptr) {
            // The older entry stays in the record, but is no longer the
            // client's last: none is given.
            record->withheld = true;
            return nullptr;
        }
        *moved = *record;
        moved->capacity = static_cast<std::uint32_t>(room);
        std::memcpy(moved->key(), record->key(), record->key_length);
        record->owner = no_owner;
        table.hole_bytes += block_size(*record);
        table.records[owner] = moved;
    }
    client_record& record = *table.records[owner];
    record.withheld = false;
    record.entry_size = static_cast<std::uint32_t>(size);
    return record.entry();
}

// Records a new client and gives its room. slot is the free slot the
// search for it found (null: none within reach), which holds unless the
// index has to grow first.
unsigned char* insert(client_table& table, std::uint32_t hash, client_slot* slot,
                      std::uint32_t distance, byte_view key, std::size_t size,
                      store_outcome& why) {
    if (table.live >= table.limits.max_clients) {
        why = store_outcome::table_full;
        return nullptr;
    }
    if (table.closed) {
        why = *table.closed;
        return nullptr;
    }
    bool renumbered = false;
    if ((why = make_number(table, renumbered)) != store_outcome::stored) return nullptr;
    if (renumbered) slot = free_slot(table.slots, table.slot_count, hash, distance);
    if (2 * (table.live + 1) > table.slot_count) {
        if ((why = grow_index(table)) != store_outcome::stored) return nullptr;
        slot = free_slot(table.slots, table.slot_count, hash, distance);
    }
    if (slot == nullptr) {
        why = store_outcome::crowded;
        return nullptr;
    }
    const std::size_t room = room_for(key.size() + size, key.size() + table.steady_bytes);
    client_record* record = place_block(table, sizeof(client_record) + room, why);
    if (record == nullptr) return nullptr;
    *record = client_record{table.count, static_cast<std::uint32_t>(room),
                            static_cast<std::uint32_t>(size),
                            static_cast<std::uint8_t>(key.size()), false};
    key.copy_to(0, key.size(), record->key());
    if (table.drop_oldest) link_newest(table, table.count);
    table.records[table.count++] = record;
    ++table.live;
    *slot = {hash, table.count};
    if (distance > table.longest_probe) table.longest_probe = distance;
    return record->entry();
}

// One try at storing, without dropping anyone.
unsigned char* store_once(client_table& table, byte_view key, std::size_t size,
                          store_outcome& why) {
    const std::uint32_t hash = hash_of(table, key);
    client_slot* slot = nullptr;
    std::uint32_t distance = 0;
    if (table.slot_count != 0) {
        slot = probe(table.slots, table.slot_count, hash,
                     [&](std::uint32_t record) { return same_key(*table.records[record - 1], key); },
                     distance);
        if (slot != nullptr && slot->record != 0) {
            // Known: newest from here, so that it is never the one dropped
            // to make room for itself.
            if (table.drop_oldest) {
                unlink_age(table, slot->record - 1);
                link_newest(table, slot->record - 1);
            }
            return update(table, *slot, key, size, why);
        }
    }
    unsigned char* room = insert(table, hash, slot, distance, key, size, why);
    if (room == nullptr && !table.drop_oldest && !table.closed) table.closed = why;
    return room;
}

void* map_anonymous(std::size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void unmap_anonymous(void* pages, std::size_t bytes) { munmap(pages, bytes); }

}  // namespace

client_table* create_client_table(client_limits limits, hash_key key, table_shape shape,
                                  const page_source* pages) {
    std::size_t chunk_bytes = limits.max_memory / 32;
    const std::size_t page_bytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t largest_block =
        sizeof(client_record) + room_for(hex_colon_max_bytes + shape.largest_entry, 0);
    chunk_bytes = chunk_bytes < max_chunk_bytes ? chunk_bytes : max_chunk_bytes;
    chunk_bytes = round_to_pages(chunk_bytes < largest_block ? largest_block : chunk_bytes, page_bytes);
    // Never more chunks than the budget can map.
    const std::size_t chunk_capacity = limits.max_memory / chunk_bytes + 1;
    auto* table = static_cast<client_table*>(std::malloc(sizeof(client_table)));
    auto* chunks = static_cast<chunk*>(std::malloc(chunk_capacity * sizeof(chunk)));
    if (table == nullptr || chunks == nullptr) {
        std::free(table);
        std::free(chunks);
        return nullptr;
    }
    // Built here, not kept as a constant: one holding pointers would be
    // relocated at load time, and cost the router program a page.
    *table = client_table{pages != nullptr ? *pages : page_source{map_anonymous, unmap_anonymous},
                          page_bytes, limits, shape.largest_entry, shape.steady_bytes, key, shape.drop_oldest, 0, 0, 0, 0, nullptr, nullptr,
                          no_owner, no_owner, 0, nullptr, 0, 0, std::nullopt, chunk_bytes, 0, 0, 0,
                          chunk_capacity, chunks};
    return table;
}

const client_limits& limits_of(const client_table& table) { return table.limits; }

table_figures figures_of(const client_table& table) {
    return {table.charged, table.longest_probe, table.dropped, table.compactions};
}

void destroy_client_table(client_table* table) {
    if (table == nullptr) return;
    for (std::size_t i = 0; i < table->chunk_count; ++i) {
        unmap(*table, table->chunks[i].base, table->chunk_bytes);
    }
    if (table->records != nullptr) {
        unmap(*table, table->records,
              whole_pages(*table, table->records_capacity * record_list_item(*table)));
    }
    if (table->slots != nullptr) {
        unmap(*table, table->slots, whole_pages(*table, table->slot_count * sizeof(client_slot)));
    }
    std::free(table->chunks);
    std::free(table);
}

unsigned char* store_entry(client_table& table, byte_view key, std::size_t size,
                           store_outcome& outcome) {
    // Larger than any chunk may be: refused before anyone is dropped for it.
    if (size > table.largest_entry) {
        outcome = store_outcome::over_budget;
        return nullptr;
    }
    outcome = store_outcome::stored;
    for (;;) {
        unsigned char* room = store_once(table, key, size, outcome);
        if (room != nullptr) {
            outcome = store_outcome::stored;
            return room;
        }
        // Past a bound, a table that drops makes room with its oldest
        // clients, one at a time, until the entry fits or it alone is left.
        const bool bound = outcome == store_outcome::table_full ||
                           outcome == store_outcome::over_budget;
        if (!table.drop_oldest || !bound) return nullptr;
        const std::uint32_t hash = hash_of(table, key);
        std::uint32_t distance = 0;
        const client_slot* slot =
            table.slot_count == 0
                ? nullptr
                : probe(table.slots, table.slot_count, hash,
                        [&](std::uint32_t r) { return same_key(*table.records[r - 1], key); },
                        distance);
        const bool known = slot != nullptr && slot->record != 0;
        if (!drop_oldest_client(table, known)) return nullptr;
    }
}

std::uint32_t client_count(const client_table& table) { return table.count; }

bool client_entry(const client_table& table, std::uint32_t i, byte_view& key, byte_view& entry) {
    const client_record* record = table.records[i];
    if (record == nullptr || record->withheld) return false;
    key = byte_view(record->key(), record->key_length);
    entry = byte_view(record->key() + record->key_length, record->entry_size);
    return true;
}

}  // namespace dhcpident
