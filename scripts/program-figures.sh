#!/usr/bin/env bash
# Prints, like a checksec line, how each built program is hardened, and the
# stripped MIPS program's figures. Fails when a property is missing, when an
# RPATH or RUNPATH appears, when a NEEDED entry is not libpcap or part of
# libc (on MIPS the stack protector's guard lives in the dynamic loader,
# ld.so.1, which the program then names), or when the stripped MIPS program
# passes 32 KiB.
# Usage: scripts/program-figures.sh PROGRAM... (a MIPS program is also
# stripped and measured).
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
fail() { echo "figures: $*" >&2; status=1; }

check() {  # check PROGRAM
    local program=$1 header dynamic segments symbols line=""
    header=$(readelf -h "$program")
    dynamic=$(readelf -d "$program")
    segments=$(readelf -lW "$program")
    symbols=$(readelf --dyn-syms -W "$program")
    property() {  # property NAME TEST
        if eval "$2"; then line+=" $1"; else line+=" NO-$1"; fail "$program: no $1"; fi
    }
    property PIE 'grep -q "Type:.*DYN" <<<"$header"'
    property RELRO 'grep -q GNU_RELRO <<<"$segments"'
    property BIND_NOW 'grep -Eq "\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW" <<<"$dynamic"'
    property NX-stack 'grep GNU_STACK <<<"$segments" | grep -Eq " RW +0x"'
    property stack-protector 'grep -Eq "__stack_chk_(fail|guard)" <<<"$symbols"'
    property FORTIFY 'grep -Eq "__[a-z]+_chk@" <<<"$symbols"'
    property no-RUNPATH '! grep -Eq "\((RPATH|RUNPATH)\)" <<<"$dynamic"'
    echo "figures: $program ($(sed -n 's/^ *Machine: *//p' <<<"$header")):$line"
    local needed
    needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | tr '\n' ' ')
    echo "figures: $program NEEDED: $needed"
    for lib in $needed; do
        case $lib in libpcap.so.*|libc.so.*|ld.so.*|ld-linux*) ;; *) fail "$program: unexpected NEEDED entry $lib" ;; esac
    done
}

for program in "$@"; do
    check "$program"
    if readelf -h "$program" | grep -q 'Machine:.*MIPS'; then
        stripped=$program.stripped
        mips-linux-gnu-strip -o "$stripped" "$program"
        check "$stripped"
        bytes=$(stat -c %s "$stripped")
        mips-linux-gnu-size "$stripped" | sed 's/^/figures: /'
        echo "figures: $stripped: $bytes bytes ($(( (bytes + 1023) / 1024 )) KiB, goal 32 KiB)"
        [ "$bytes" -le 32768 ] || fail "$stripped: over 32 KiB"
    fi
done
exit $status
