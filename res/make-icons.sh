#!/usr/bin/env bash
# Renders the committed icon images from tallyview.svg (needs rsvg-convert from librsvg2-bin
# and python3). Run it after changing the picture, then commit the results.
set -euo pipefail
cd "$(dirname "$0")"
SIZES=(16 32 48 64 128 256)
for s in "${SIZES[@]}"; do
    rsvg-convert -w "$s" -h "$s" tallyview.svg -o "icons/tallyview-$s.png"
done
# Windows icon resource: PNG-compressed images in one .ico (readable since Windows Vista).
python3 - icons/tallyview-{16,32,48,256}.png <<'PY' > tallyview.ico
import struct, sys
images = [open(p, "rb").read() for p in sys.argv[1:]]
out = struct.pack("<HHH", 0, 1, len(images))
offset = 6 + 16 * len(images)
for data in images:
    w, h = struct.unpack(">II", data[16:24])
    out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(data), offset)
    offset += len(data)
sys.stdout.buffer.write(out + b"".join(images))
PY
