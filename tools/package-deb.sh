#!/usr/bin/env bash
# Builds the Debian package olvex-audio-control_<version>_<arch>.deb from a
# staged tree with dpkg-deb: the program, its systemd user unit, the udev
# rules for the device's data port, the icons and the desktop entry.
#
#   bash tools/package-deb.sh [--program FILE] [--output FOLDER]
#
# Without --program it builds the program first (the linux preset); the
# package goes into dist/ unless --output names another folder. Prints the
# package's path. The version is the CMake project's.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
packaging="$root/packaging/linux"
program=""
output="$root/dist"

while [[ $# -gt 0 ]]; do
  case "$1" in
    --program) program=$(realpath "$2"); shift 2 ;;
    --output) output="$2"; shift 2 ;;
    *) echo "usage: $0 [--program FILE] [--output FOLDER]" >&2; exit 2 ;;
  esac
done

if [[ -z "$program" ]]; then
  bash "$root/tools/install-deps.sh"
  # Standard output is kept for the package's path.
  (cd "$root" && cmake --preset linux && cmake --build --preset linux --target olvex-audio-control) >&2
  program="$root/build/linux/app/olvex-audio-control"
fi

version=$(sed -n 's/^project(olvex_audio_control VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[[ -n "$version" ]] || { echo "package-deb: no project version in CMakeLists.txt" >&2; exit 1; }
architecture=$(dpkg --print-architecture)
name=olvex-audio-control
changelog_version=$(sed -n "1s/^$name (\([^)]*\)).*/\1/p" "$packaging/changelog")
if [[ "$changelog_version" != "$version" ]]; then
  echo "package-deb: the changelog's last entry is for $changelog_version, the project is $version: add an entry" >&2
  exit 1
fi

# dpkg-shlibdeps wants the tree at debian/<package> beside a debian/control.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage="$work/debian/$name"
umask 022
mkdir -p "$stage/DEBIAN"
: >"$work/debian/control"

install -D -m 0755 "$program" "$stage/usr/bin/$name"
# As dh_strip does: no debugging symbols, comments or notes in the package.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage/usr/bin/$name"
install -D -m 0644 "$packaging/$name.service" "$stage/usr/lib/systemd/user/$name.service"
install -D -m 0644 "$packaging/70-$name.rules" "$stage/usr/lib/udev/rules.d/70-$name.rules"
install -D -m 0644 "$packaging/$name.desktop" "$stage/usr/share/applications/$name.desktop"
/usr/bin/python3 "$root/resources/make-icons.py" --hicolor "$stage/usr/share/icons/hicolor"
mkdir -p "$stage/usr/share/man/man1"
sed "s/@VERSION@/$version/" "$packaging/$name.1" | gzip -9n >"$stage/usr/share/man/man1/$name.1.gz"
install -D -m 0644 "$packaging/copyright" "$stage/usr/share/doc/$name/copyright"
# A native package (no Debian revision): its one changelog is changelog.gz.
gzip -9n <"$packaging/changelog" >"$stage/usr/share/doc/$name/changelog.gz"
find "$stage/usr/share" -type f -exec chmod 0644 {} +
find "$stage" -type d -exec chmod 0755 {} +

depends=$(cd "$work" && dpkg-shlibdeps -O "debian/$name/usr/bin/$name" | sed -n 's/^shlibs:Depends=//p')
# In KiB as dpkg-gencontrol counts: each file rounded up, anything else 1.
installed_size=$(cd "$stage" && find usr -printf '%y %s\n' |
  awk '{ total += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print total }')
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
    -e "s/@INSTALLED_SIZE@/$installed_size/" -e "s/@DEPENDS@/$depends/" \
    "$packaging/control.in" >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

# Every file dated by the changelog's last entry: the same tree gives the
# same package.
SOURCE_DATE_EPOCH=$(date -d "$(sed -n 's/^ -- .*  //p' "$packaging/changelog" | head -n 1)" +%s)
export SOURCE_DATE_EPOCH
mkdir -p "$output"
package="$output/${name}_${version}_${architecture}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$package" >/dev/null
echo "$package"
