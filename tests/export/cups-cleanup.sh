#!/usr/bin/env bash
# Undoes cups-setup.sh: removes its queues, gives back the previous default printer and stops
# the scheduler if the fixture started it.
set -euo pipefail
STATE_DIR=$1
[ "$(id -u)" -eq 0 ] && [ -d "$STATE_DIR" ] || exit 0
for queue in TallyviewPDF TallyviewRefusing; do
    lpadmin -x "$queue" 2>/dev/null || true
done
previous=$(cat "$STATE_DIR/default" 2>/dev/null || true)
if [ -n "$previous" ]; then
    lpoptions -d "$previous" >/dev/null 2>&1 || true
fi
if [ -f "$STATE_DIR/cupsd.pid" ]; then
    kill "$(cat "$STATE_DIR/cupsd.pid")" 2>/dev/null || true
fi
rm -rf "$STATE_DIR"
