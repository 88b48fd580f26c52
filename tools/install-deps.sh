#!/usr/bin/env bash
# Installs from Debian's archive whatever the build and the tests need and the
# machine lacks. Quiet, and a no-op when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config gcc-12 g++-12 python3
  libudev-dev libjpeg62-turbo-dev libpng-dev python3-pil
  nlohmann-json3-dev libfmt-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix wine wine64 nsis
  clang-16 libclang-rt-16-dev
  libsdbus-c++-dev libsystemd-dev libpulse-dev
  dbus dbus-daemon pulseaudio pulseaudio-utils mpv mpv-mpris vlc ffmpeg fonts-dejavu-core
  pipewire pipewire-bin pipewire-pulse wireplumber
  xvfb xdotool x11-apps
  dpkg-dev lintian systemd ccache
  haskell-status-notifier-item-utils haskell-gtk-sni-tray-utils
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing from Debian's archive: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
