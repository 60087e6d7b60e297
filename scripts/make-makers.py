#!/usr/bin/env python3
"""Builds the maker table dhcpident --names searches, from the IEEE
Registration Authority's listings as Debian's ieee-data ships them.

Usage: make-makers.py IEEE_DATA_DIR OUTPUT

It reads oui.csv (MA-L, 24-bit prefixes) and mam.csv (MA-M, 28 bits), and
the listing's date from .lastupdate. MA-S and IAB (36 bits) are left out:
with them the package would pass its 256 KiB. Blocks registered to the
Registration Authority itself (given out again as MA-M and MA-S) and those
registered as "Private" name no maker and are left out too.

Short names, by these rules, in this order:
  1. Text in parentheses goes, and so does everything from the first comma
     on (a company type, an address part).
  2. The name is cut into words at spaces; punctuation at either end of a
     word goes ("Co." is "Co").
  3. Words that name a company's form go wherever they are (Co, Corp,
     Corporation, Corporate, Inc, Ltd, Limited, LLC, GmbH, AG, SA, SAS, ...).
  4. A leading province or city name of a longer name goes (Shenzhen,
     Guangdong, ...): the name is the company's.
  5. The name stops before the first generic word behind the first one
     (Technologies, Electronics, Communications, Networks, Systems, ...),
     and has at most two words.
  6. A word in capitals of more than four letters is written as a name is
     ("HUAWEI" is "Huawei"; "ZTE", "TP-LINK" stay).
  7. At most 24 characters.
A name these rules leave empty is the registry's, cut to 24 characters.

The output, numbers big-endian so that every machine reads it alike, is
searched where it lies (mapped, never read whole):
  0    8 bytes  "DIMAKER1"
  8    7 words  entries and blocks of 24-bit prefixes, entries and blocks
                of 28-bit prefixes, names, bytes of entries, bytes of names
  36  92 bytes  a note: the source and its date, zero-padded
  128           the 24-bit blocks: each 3 bytes of its first prefix and 3
                bytes of where its entries begin
                the 28-bit blocks: each 4 bytes of its first prefix (in the
                top 28 bits) and 3 bytes of where its entries begin
                the entries: a block's first is its name's number, each
                other the distance from the prefix before and then its
                name's number, all as varints (7 bits a byte, low bits
                first, the top bit set on all but the last byte)
                the name blocks: 3 bytes each, where every 16th name begins
                the names, sorted, each ending in a zero byte
Prefixes are sorted; a block holds 32 entries (the last, what is left).
"""
import csv
import datetime
import os
import re
import struct
import sys

ENTRIES_PER_BLOCK = 32
NAMES_PER_BLOCK = 16

FORMS = {
    "co", "corp", "corporation", "corporate", "company", "inc", "incorporated", "ltd", "limited",
    "llc", "lp", "llp", "gmbh", "mbh", "ag", "kg", "sa", "sas", "sarl", "srl", "spa", "sl", "bv",
    "nv", "oy", "oyj", "ab", "as", "asa", "aps", "plc", "pte", "pty", "kk", "sdn", "bhd", "tbk",
    "jsc", "ojsc", "ooo", "zao", "sro", "sp", "zoo", "cv", "group", "holdings", "holding",
}
PLACES = {
    "shenzhen", "guangdong", "guangzhou", "beijing", "shanghai", "hangzhou", "zhejiang",
    "jiangsu", "xiamen", "fujian", "suzhou", "dongguan", "chongqing", "wuhan", "nanjing",
    "qingdao", "tianjin", "chengdu", "sichuan", "shandong", "hubei", "hunan", "anhui", "ningbo",
    "zhuhai", "foshan", "huizhou", "jiaxing", "wuxi", "changsha", "hefei", "xian", "zhongshan",
}
GENERIC = {
    "technologies", "technology", "tech", "electronics", "electronic", "electric", "communications",
    "communication", "telecommunications", "telecommunication", "telecom", "networks", "network",
    "networking", "systems", "system", "semiconductor", "semiconductors", "industrial", "industries",
    "industry", "precision", "mobile", "computer", "computers", "devices", "device", "products",
    "broadband", "information", "solutions", "microelectronics", "digital", "international",
    "intelligent", "manufacturing", "trading", "science", "engineering", "ind",
}


def short_name(name):
    text = re.sub(r"\([^)]*\)", " ", name).split(",")[0]
    words = [w.strip(".,;:'\"!?/\\") for w in text.split()]
    words = [w for w in words if w and w.lower() not in FORMS]
    if len(words) > 1 and words[0].lower() in PLACES:
        words = words[1:]
    kept = words[:1]
    for w in words[1:2]:
        if w.lower() in GENERIC:
            break
        kept.append(w)

    def written(w):
        letters = [c for c in w if c.isalpha()]
        if len(letters) > 4 and all(c.isupper() for c in letters):
            return "-".join(p[:1] + p[1:].lower() for p in w.split("-"))
        return w

    short = " ".join(written(w) for w in kept)[:24].strip()
    return short or name.strip()[:24]


def entries(path, digits):
    """{prefix, as an integer of digits hex digits: its short name} of a listing."""
    found = {}
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        rows = csv.reader(f)
        next(rows)
        for row in rows:
            if len(row) < 3 or len(row[1]) != digits:
                continue
            name = row[2].strip()
            if name and name not in ("IEEE Registration Authority", "Private"):
                found[int(row[1], 16)] = short_name(name)
    return sorted(found.items())


def varint(value):
    out = bytearray()
    while value >= 0x80:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    out.append(value)
    return out


def main(source, output):
    with open(os.path.join(source, ".lastupdate")) as f:
        stamp = f.read().strip()
    date = (datetime.datetime.fromtimestamp(int(stamp), datetime.timezone.utc).strftime("%Y-%m-%d")
            if stamp.isdigit() else stamp)
    lists = [(24, 3, entries(os.path.join(source, "oui.csv"), 6)),
             (28, 4, entries(os.path.join(source, "mam.csv"), 7))]
    names = sorted({n for _, _, found in lists for _, n in found})
    number = {n: i for i, n in enumerate(names)}
    blocks, data = [], bytearray()
    for bits, width, found in lists:
        index = bytearray()
        for start in range(0, len(found), ENTRIES_PER_BLOCK):
            block = found[start:start + ENTRIES_PER_BLOCK]
            index += (block[0][0] << (width * 8 - bits)).to_bytes(width, "big")
            index += len(data).to_bytes(3, "big")
            previous = block[0][0]
            for i, (prefix, name) in enumerate(block):
                if i:
                    data += varint(prefix - previous)
                    previous = prefix
                data += varint(number[name])
        blocks.append(index)
    name_blocks, blob = bytearray(), bytearray()
    for i, n in enumerate(names):
        if i % NAMES_PER_BLOCK == 0:
            name_blocks += len(blob).to_bytes(3, "big")
        blob += n.encode("utf-8", "replace") + b"\0"
    assert len(data) < 1 << 24 and len(blob) < 1 << 24
    note = ("IEEE Registration Authority MA-L and MA-M listings of %s, as Debian's ieee-data "
            "ships them; public domain" % date).encode()[:91]
    counts = [len(lists[0][2]), len(blocks[0]) // 6, len(lists[1][2]), len(blocks[1]) // 7,
              len(names), len(data), len(blob)]
    out = bytearray(b"DIMAKER1") + struct.pack(">7I", *counts) + note + b"\0" * (92 - len(note))
    out += blocks[0] + blocks[1] + data + name_blocks + blob
    with open(output + ".new", "wb") as f:
        f.write(out)
    os.replace(output + ".new", output)
    print("makers: %d MA-L and %d MA-M prefixes, %d names, %d bytes, the listings of %s"
          % (counts[0], counts[2], len(names), len(out), date))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n\n")[1])
    main(sys.argv[1], sys.argv[2])
