#!/usr/bin/env bash
# Prints, like a checksec line, how each built program is made and hardened,
# and its size, and fails on any miss:
# - every program: PIE, full RELRO with BIND_NOW, a non-executable stack,
#   the stack protector, no RPATH or RUNPATH;
# - a host program (glibc): FORTIFY, and NEEDED only libpcap and libc;
# - a router program (MIPS, AArch64, ARM): no C++ runtime; on MIPS soft
#   float (readelf -A) and no FPU instruction (scripts/fpu-free.sh), on ARM
#   the hard-float ABI; FORTIFY is not there to check, as musl has none of
#   its own (OpenWrt adds it with its fortify-headers);
#   - linked with libraries: musl's loader for the architecture (such as
#     /lib/ld-musl-mips-sf.so.1) and NEEDED exactly libc.so and
#     libpcap.so.1; PROGRAM.stripped within 32 KiB (36 KiB on AArch64);
#   - static: no loader and no NEEDED; PROGRAM.stripped within 256 KiB.
# Usage: scripts/program-figures.sh PROGRAM...
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
fail() { echo "figures: $*" >&2; status=1; }

check() {  # check FILE SYMBOLS_FROM: SYMBOLS_FROM is FILE, or the unstripped program
    local program=$1 symbols_from=$2 header dynamic segments symbols line="" kind
    header=$(readelf -h "$program")
    dynamic=$(readelf -d "$program")
    segments=$(readelf -lW "$program")
    symbols=$(readelf -sW "$symbols_from")
    property() {  # property NAME TEST
        if eval "$2"; then line+=" $1"; else line+=" NO-$1"; fail "$program: no $1"; fi
    }
    property PIE 'grep -q "Type:.*DYN" <<<"$header"'
    # Everything the linker can make read-only once relocated is: on MIPS
    # that is .init_array, .fini_array and .data.rel.ro, never the GOT, which
    # its linker keeps writable; a program with none of them has no
    # GNU_RELRO segment, and nothing left writable that RELRO would cover.
    local sections
    sections=$(readelf -SW "$program")
    if grep -q GNU_RELRO <<<"$segments" ||
        ! grep -Eq ' \.(init_array|fini_array|data\.rel\.ro|got\.plt) ' <<<"$sections"; then
        line+=" RELRO"
        grep -q GNU_RELRO <<<"$segments" || line+="(nothing-to-cover)"
    else
        line+=" NO-RELRO"
        fail "$program: no RELRO"
    fi
    property BIND_NOW 'grep -Eq "\(FLAGS\).*BIND_NOW|\(FLAGS_1\).*NOW" <<<"$dynamic"'
    property NX-stack 'grep -Eq "GNU_STACK.* RW +0x" <<<"$segments"'
    property stack-protector 'grep -Eq "__stack_chk_(fail|guard)" <<<"$symbols"'
    property no-RUNPATH '! grep -Eq "\((RPATH|RUNPATH)\)" <<<"$dynamic"'
    local needed interpreter
    needed=$(sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' <<<"$dynamic" | sort | tr '\n' ' ')
    interpreter=$(sed -n 's/.*Requesting program interpreter: \(.*\)\]/\1/p' <<<"$segments")
    local machine router_loader
    machine=$(sed -n 's/^ *Machine: *//p' <<<"$header")
    case $machine in
    *MIPS*) router_loader=/lib/ld-musl-mips$(grep -q 'little endian' <<<"$header" && echo el || true)-sf.so.1 ;;
    AArch64) router_loader=/lib/ld-musl-aarch64.so.1 ;;
    ARM) router_loader=/lib/ld-musl-armhf.so.1 ;;
    *) router_loader="" ;;
    esac
    if [ -z "$router_loader" ]; then
        kind=host
        property FORTIFY 'grep -Eq "__[a-z]+_chk@" <<<"$symbols"'
        for lib in $needed; do
            case $lib in libpcap.so.*|libc.so.*) ;; *) fail "$program: unexpected NEEDED entry $lib" ;; esac
        done
    else
        # Whole outputs, not pipes into grep -q: under pipefail, the writer
        # killed by SIGPIPE when grep stops early would fail the test.
        local attributes dynamic_symbols
        attributes=$(readelf -A "$program")
        dynamic_symbols=$(readelf --dyn-syms -W "$program")
        if [ "$machine" = ARM ]; then
            property hard-float-ABI 'grep -q "Tag_ABI_VFP_args: VFP registers" <<<"$attributes"'
        elif [ "$machine" != AArch64 ]; then
            property soft-float 'grep -q "FP ABI: Soft float" <<<"$attributes"'
            property no-FPU-instruction 'bash scripts/fpu-free.sh "$program" >/dev/null'
        fi
        property no-C++-runtime '! grep -Eq "libstdc\+\+|libgcc_s" <<<"$needed" &&
            ! grep -Eq " UND +(_Z|__cxa_|__gxx_|_Unwind)" <<<"$dynamic_symbols"'
        line+=" FORTIFY:n/a(musl)"
        if [ -n "$interpreter" ]; then
            kind=dynamic
            [ "$interpreter" = "$router_loader" ] || fail "$program: loader $interpreter, not $router_loader"
            [ "$needed" = "libc.so libpcap.so.1 " ] || fail "$program: NEEDED $needed, not libc.so libpcap.so.1"
        else
            kind=static
            [ -z "$needed" ] || fail "$program: static, yet NEEDED $needed"
        fi
    fi
    echo "figures: $program ($(sed -n 's/^ *Machine: *//p' <<<"$header"), $kind):$line"
    echo "figures: $program loader: ${interpreter:-none}; NEEDED: ${needed:-none}"
}

for program in "$@"; do
    check "$program" "$program"
    stripped=$program.stripped
    [ -f "$stripped" ] || continue
    check "$stripped" "$program"
    bytes=$(stat -c %s "$stripped")
    limit=32768
    grep -q 'Machine:.*AArch64' <<<"$(readelf -h "$program")" && limit=36864
    grep -q 'program interpreter' <<<"$(readelf -lW "$program")" || limit=262144
    size "$stripped" | sed 's/^/figures: /'
    echo "figures: $stripped: $bytes bytes ($(( (bytes + 1023) / 1024 )) KiB, goal $((limit / 1024)) KiB)"
    [ "$bytes" -le "$limit" ] || fail "$stripped: over $((limit / 1024)) KiB"
done
exit $status
