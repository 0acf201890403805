#!/usr/bin/env bash
# The main job, live: tallyview-feed plays the bundled sample game on a pseudo-terminal and
# Tallyview shows it, and shares it as a web view for this computer (the URL is printed), with
# the sample game's board as fields (tools/samples/sample-game.fields.json): the page's cards,
# /fields.json and a text file per field in BUILDDIR/demo/fields.
#   bash tools/demo.sh BUILDDIR
# Everything happens in BUILDDIR/demo, with a "Tallyview.cfg" of its own there; no other
# settings file is touched. With a display the window opens there until it is closed; without
# one it runs under Xvfb, a screenshot is taken after the first refreshes and its path printed.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: bash tools/demo.sh BUILDDIR}" && pwd)
APP=$BUILD/ui/tallyview
FEED=$BUILD/tools/tallyview-feed
SAMPLE=$ROOT/tools/samples/sample-game.cap
SAMPLE_FIELDS=$ROOT/tools/samples/sample-game.fields.json
WORK=$BUILD/demo
# The demo's own copy, fresh at each run: what the Fields window changes stays out of the sample.
FIELDS=$WORK/sample-game.fields.json
LINK=$WORK/ttyTallyview
SHOT=$WORK/tallyview-demo.png
# Three refreshes of the window (one every two seconds) and a little more.
SHOT_AFTER=7
TITLE="Korvane Benchline Emulator"
SHARE_PORT=8132
# Letters and digits the program accepts as an access code.
SHARE_CODE=$(LC_ALL=C tr -dc 'abcdefghjkmnpqrstuvwxyz23456789' </dev/urandom | head -c 10 || true)
SHARE_URL="http://127.0.0.1:$SHARE_PORT/?code=$SHARE_CODE"

for f in "$APP" "$FEED"; do
    [ -x "$f" ] || { echo "demo: $f is missing; build first (bash dev.sh demo)" >&2; exit 1; }
done
mkdir -p "$WORK"
cd "$WORK"
cp "$SAMPLE_FIELDS" "$FIELDS"

PIDS=()
stop_all() {
    local i
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null || true
        wait "${PIDS[i]}" 2>/dev/null || true
    done
}
trap stop_all EXIT
trap 'exit 130' INT TERM

wait_for() { # wait_for SECONDS COMMAND...: polls COMMAND every 0.1 s
    local tries=$(($1 * 10))
    shift
    until "$@"; do
        ((tries-- > 0)) || return 1
        sleep 0.1
    done
}

"$FEED" --loop --pty "$LINK" "$SAMPLE" >/dev/null &
PIDS+=($!)
wait_for 5 test -L "$LINK" || { echo "demo: tallyview-feed did not create $LINK" >&2; exit 1; }

cat >Tallyview.cfg <<CFG
Tallyview port settings 1
device=$LINK
baud=9600
databits=8
parity=none
stopbits=1
flow=none
share=on
share_address=local
share_port=$SHARE_PORT
share_code=$SHARE_CODE
fields_file=$FIELDS
fields_folder=$WORK/fields
CFG
echo "Web view of the screen (this computer only): $SHARE_URL"
echo "The sample game's fields: http://127.0.0.1:$SHARE_PORT/fields.json?code=$SHARE_CODE"
echo "and as text files (an OBS text source reads from file): $WORK/fields/NAME.txt"

if [ -n "${DISPLAY:-}" ]; then
    echo "Tallyview is showing the sample game; close its window to end the demo."
    "$APP"
    exit 0
fi

# No display: a virtual one, the window on it, and a picture of the window.
command -v Xvfb >/dev/null || { echo "demo: no DISPLAY and no Xvfb" >&2; exit 1; }
# A file left by an earlier demo would be read before this Xvfb has emptied it.
rm -f "$WORK/xvfb-display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/xvfb-display" 2>"$WORK/xvfb.log" &
PIDS+=($!)
wait_for 10 test -s "$WORK/xvfb-display" || { echo "demo: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$WORK/xvfb-display")"

"$APP" 2>"$WORK/tallyview.log" &
PIDS+=($!)
sleep "$SHOT_AFTER"
kill -0 "${PIDS[-1]}" 2>/dev/null || { echo "demo: Tallyview ended early; see $WORK/tallyview.log" >&2; exit 1; }
xwd -silent -name "$TITLE" | xwdtopnm 2>/dev/null | pnmtopng >"$SHOT"
echo "Tallyview showed the sample game for $SHOT_AFTER seconds under Xvfb; screenshot: $SHOT"
