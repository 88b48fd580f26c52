#!/usr/bin/env bash
# Writes short tagged sample tracks into the folder given (created if needed),
# for the demo and the end-to-end tests:
#   cover.png                 300x300 cover beside the first two tracks
#   first-light.flac          "First Light" by "The Test Tones" on "Sample Sessions"
#   second-wind.flac          "Second Wind" by "The Test Tones" on "Sample Sessions"
#   embedded/third-rail.mp3   "Third Rail" by "Null Sink Trio" on "Embedded Art",
#                             its cover only inside the file
# Prints one line per track: path, title, artist and album, separated by tabs.
# Needs ffmpeg.
set -euo pipefail

folder=${1:?usage: make-sample-tracks.sh FOLDER}
seconds=${SAMPLE_TRACK_SECONDS:-30}
mkdir -p "$folder/embedded"

quiet=(ffmpeg -nostdin -hide_banner -loglevel error -y)

"${quiet[@]}" -f lavfi -i "testsrc2=size=300x300" -frames:v 1 "$folder/cover.png"
"${quiet[@]}" -f lavfi -i "mandelbrot=size=240x240" -frames:v 1 "$folder/embedded/.art.png"

tone() {  # frequency title artist album output [picture]
  local inputs=(-f lavfi -i "sine=frequency=$1:sample_rate=44100:duration=$seconds")
  local maps=()
  if [[ $# -ge 6 ]]; then
    inputs+=(-i "$6")
    maps=(-map 0:a -map 1:v -c:v png -disposition:v attached_pic
          -metadata:s:v "title=Album cover" -metadata:s:v "comment=Cover (front)")
  fi
  "${quiet[@]}" "${inputs[@]}" "${maps[@]}" -metadata "title=$2" -metadata "artist=$3" -metadata "album=$4" "$5"
  printf '%s\t%s\t%s\t%s\n' "$5" "$2" "$3" "$4"
}

tone 440 "First Light" "The Test Tones" "Sample Sessions" "$folder/first-light.flac"
tone 660 "Second Wind" "The Test Tones" "Sample Sessions" "$folder/second-wind.flac"
tone 330 "Third Rail" "Null Sink Trio" "Embedded Art" "$folder/embedded/third-rail.mp3" "$folder/embedded/.art.png"
rm -f "$folder/embedded/.art.png"
