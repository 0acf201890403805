#!/usr/bin/env bash
# The Windows tallyview-replay under Wine: a capture read from a file and from standard input
# gives the same state, and the same as the Linux build's when one is given. The capture is the
# sample with CR LF pairs and a 0x1A byte after it, which a text-mode stream would alter.
#   check-replay-windows.sh REPLAY_EXE SAMPLE [LINUX_REPLAY]
set -euo pipefail
exe=$1 sample=$2 linux=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
    cat "$sample"
    printf 'Final\r\nA\x1aB\r\n'
} >"$work/capture"
wine "$exe" --state "$work/capture" >"$work/from-file"
wine "$exe" --state - <"$work/capture" >"$work/from-stdin"
cmp "$work/from-file" "$work/from-stdin"
if [ -n "$linux" ]; then
    "$linux" --state "$work/capture" | cmp - "$work/from-file"
else
    echo "no Linux build given: compared file and standard input only"
fi
