#!/usr/bin/env bash
# Test fixture: a running CUPS scheduler with the cups-pdf queue TallyviewPDF as the default
# printer, and TallyviewRefusing, a queue that refuses every job. Remembers in STATE_DIR what
# cups-cleanup.sh has to undo. Without root it does nothing: the printing tests skip then.
set -euo pipefail
STATE_DIR=$1
if [ "$(id -u)" -ne 0 ]; then
    echo "not root: the CUPS printing tests will be skipped"
    exit 0
fi
mkdir -p "$STATE_DIR"
rm -f "$STATE_DIR"/*

running() { lpstat -r 2>/dev/null | grep -q "is running"; }
if ! running; then
    cupsd </dev/null >/dev/null 2>&1
    for _ in $(seq 100); do running && break; sleep 0.1; done
    running || { echo "cupsd did not start" >&2; exit 1; }
    cp /run/cups/cupsd.pid "$STATE_DIR/cupsd.pid"
fi

# The previous default, given back at cleanup.
lpstat -d 2>/dev/null | sed -n 's/^system default destination: //p' > "$STATE_DIR/default"

MODEL=$(lpinfo -m | awk '/CUPS-PDF_opt/ { print $1; exit }')
[ -n "$MODEL" ] || MODEL=$(lpinfo -m | awk 'tolower($0) ~ /cups-pdf/ { print $1; exit }')
[ -n "$MODEL" ] || { echo "no cups-pdf model (printer-driver-cups-pdf)" >&2; exit 1; }
for queue in TallyviewPDF TallyviewRefusing; do
    lpadmin -p "$queue" -E -v cups-pdf:/ -m "$MODEL" 2>&1 | grep -v "drivers are deprecated" || true
    lpstat -p "$queue" >/dev/null
done
cupsreject TallyviewRefusing
lpoptions -d TallyviewPDF >/dev/null
echo "default printer: $(lpstat -d)"
