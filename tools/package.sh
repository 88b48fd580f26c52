#!/usr/bin/env bash
# Builds both installers into dist/: the Debian package and the Windows setup
# program. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
bash tools/package-deb.sh
bash tools/package-windows.sh
ls -l dist/
