#!/usr/bin/env bash
# Peak resident memory of the whole program while a player offers a large
# JPEG file as its cover: a private session bus, bench/cover_player.py as the
# player, the program run for SECONDS_TO_RUN seconds (15 by default: long
# enough for the debouncer's second and one conversion on a busy machine),
# its peak taken by /usr/bin/time -v. Run once
# with the cover and once without, so that the cover's share shows.
#
# Usage: tools/bench-cover-memory.sh [MEGABYTES]   (default 60; BUILD_DIR=... for
#        a build other than build/linux, which needs olvex-audio-control built;
#        COVER=FILE keeps the cover there, made only if it is missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build/linux}
megabytes=${1:-60}
work=$(mktemp -d "${TMPDIR:-/tmp}/olvex-cover.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Noise without chroma subsampling: a 6000x6000 baseline JPEG (the
# decoder's ceiling) at the highest quality that stays within the size;
# comment segments make up the rest.
cover=${COVER:-$work/cover.jpg}
[[ -e $cover ]] || /usr/bin/python3 - "$cover" "$megabytes" <<'PY'
import io, sys
from PIL import Image
path, megabytes = sys.argv[1], int(sys.argv[2])
picture = Image.merge("RGB", [Image.effect_noise((6000, 6000), 40 + 10 * band) for band in range(3)])
for quality in (100, 97, 94, 90, 85, 80, 70, 50):
    out = io.BytesIO()
    picture.save(out, "JPEG", quality=quality, subsampling=0)
    if out.tell() <= megabytes * 1_000_000:
        break
data = out.getvalue()
comment = b"\xff\xfe\xff\xff" + bytes(65533)
missing = max(0, megabytes * 1_000_000 - len(data))
data = data[:2] + comment * (missing // len(comment)) + data[2:]
open(path, "wb").write(data)
print(f"cover: {len(data) / 1e6:.1f} MB, 6000x6000 baseline JPEG of quality {quality}")
PY

run() {  # cover file or "", label
  dbus-run-session -- bash -c '
    if [[ -n $1 ]]; then
      /usr/bin/python3 bench/cover_player.py "$1" >/dev/null &
      sleep 1
    fi
    OLVEX_AUDIO_PORT=/dev/null-olvex /usr/bin/time -v -o "$2" timeout -s TERM "${SECONDS_TO_RUN:-15}" "$3" >/dev/null 2>&1 || true
  ' run "$1" "$work/time.txt" "$build/app/olvex-audio-control"
  echo "$2: $(awk '/Maximum resident set size/ { printf "%.1f MiB", $6 / 1024 }' "$work/time.txt")"
}

run "" "no player"
run "$(realpath "$cover")" "a player offering the cover"
