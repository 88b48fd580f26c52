#!/usr/bin/env bash
# Builds the Windows installer, OLVEX-Audio-Control-<version>-setup.exe, into
# dist/: the MinGW-w64 cross build of the program, packed by NSIS's makensis.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target installer
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
setup="OLVEX-Audio-Control-$version-setup.exe"
mkdir -p dist
cp "build/windows/packaging/windows/$setup" dist/
echo "dist/$setup"
