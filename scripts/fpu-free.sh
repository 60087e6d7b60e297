#!/usr/bin/env bash
# Fails when a MIPS program, library or archive holds an FPU instruction: the
# routers this is built for have no FPU, and their kernels no FPU emulation,
# so one such instruction executed is SIGILL. Reads the disassembly of every
# executable section and decodes each instruction word: the coprocessor-1
# opcodes (COP1, COP1X, LWC1, LDC1, SWC1, SDC1) and MOVF/MOVT, which read
# the FPU's condition codes.
# Usage: scripts/fpu-free.sh FILE...  (prints one line a file)
set -euo pipefail
status=0
for file in "$@"; do
    # shellcheck disable=SC2016
    result=$(mips-linux-gnu-objdump -d "$file" | awk '
        function byte(hex) { return (index("0123456789abcdef", substr(hex, 1, 1)) - 1) * 16 + index("0123456789abcdef", substr(hex, 2, 1)) - 1 }
        $1 ~ /^[0-9a-f]+:$/ && length($2) == 8 && $2 ~ /^[0-9a-f]+$/ {
            words++
            opcode = int(byte(substr($2, 1, 2)) / 4)
            funct = byte(substr($2, 7, 2)) % 64
            # 0x11 COP1, 0x13 COP1X, 0x31 LWC1, 0x35 LDC1, 0x39 SWC1, 0x3d SDC1;
            # SPECIAL with function 1 is MOVF/MOVT.
            if (opcode == 17 || opcode == 19 || opcode == 49 || opcode == 53 || opcode == 57 ||
                opcode == 61 || (opcode == 0 && funct == 1)) {
                if (found++ < 3) sample = sample " [" $0 "]"
            }
        }
        END { printf "%d %d%s\n", words, found, sample }')
    read -r words found sample <<<"$result"
    if [ "$words" -eq 0 ]; then
        echo "fpu-free: $file: no instructions found to check" >&2
        status=1
    elif [ "$found" -ne 0 ]; then
        echo "fpu-free: $file: $found FPU instructions in $words, such as$sample" >&2
        status=1
    else
        echo "fpu-free: $file: no FPU instruction in $words"
    fi
done
exit $status
