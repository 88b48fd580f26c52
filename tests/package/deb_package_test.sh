#!/usr/bin/env bash
# The Debian package, built from the program of this build: its name, files
# and control fields, lintian's verdict, the unpacked program, and the
# systemd user unit. Nothing is installed on this machine.
#
#   deb_package_test.sh SOURCE_DIR PROGRAM VERSION SCRATCH_FOLDER
set -euo pipefail

source_dir=$1 program=$2 version=$3 scratch=$4
name=olvex-audio-control
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$scratch"
mkdir -p "$scratch"
package=$(bash "$source_dir/tools/package-deb.sh" --program "$program" --output "$scratch/dist")
architecture=$(dpkg --print-architecture)
[[ "$package" == "$scratch/dist/${name}_${version}_${architecture}.deb" ]] || fail "package named $package"

# Every file, and no other.
expected_files=(
  "usr/bin/$name"
  "usr/lib/systemd/user/$name.service"
  "usr/lib/udev/rules.d/70-$name.rules"
  "usr/share/applications/$name.desktop"
  "usr/share/doc/$name/changelog.gz"
  "usr/share/doc/$name/copyright"
  "usr/share/man/man1/$name.1.gz"
)
for size in 16 22 24 32 48 256; do
  for icon in "$name" "$name-connected" "$name-no-device"; do
    expected_files+=("usr/share/icons/hicolor/${size}x${size}/apps/$icon.png")
  done
done
printf '%s\n' "${expected_files[@]}" | sort >"$scratch/expected-files"
dpkg-deb --fsys-tarfile "$package" | tar -t | sed 's|^\./||' | grep -v '/$' | grep -v '^$' | sort >"$scratch/files"
diff -u "$scratch/expected-files" "$scratch/files" || fail "the package's files differ from the list above"

field() { dpkg-deb --field "$package" "$1"; }
[[ "$(field Package)" == "$name" ]] || fail "Package: $(field Package)"
[[ "$(field Version)" == "$version" ]] || fail "Version: $(field Version)"
[[ "$(field Architecture)" == "$architecture" ]] || fail "Architecture: $(field Architecture)"
[[ "$(field Installed-Size)" =~ ^[0-9]+$ ]] || fail "Installed-Size: $(field Installed-Size)"
# What dpkg-shlibdeps found: the C library and the libraries linked here.
depends=$(field Depends)
for library in "libc6 (>= " libpulse0 libudev1 libsdbus-c++1 libjpeg62-turbo libpng16-16; do
  [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

# lintian's warnings count as much as its errors: the package has neither.
if ! lintian --fail-on error,warning "$package" 2>/dev/null; then
  fail "lintian found errors or warnings (listed above)"
fi

# The unpacked program runs and names the package's version.
dpkg-deb --extract "$package" "$scratch/root"
shown=$("$scratch/root/usr/bin/$name" --version) || fail "--version ended with status $?"
[[ "$shown" == "OLVEX-Audio-Control $version" ]] || fail "--version printed: $shown"

# systemd checks that the program named by ExecStart exists, so the unit is
# verified pointing at the unpacked one.
if command -v systemd-analyze >/dev/null; then
  mkdir -p "$scratch/unit" "$scratch/runtime"
  chmod 0700 "$scratch/runtime"
  sed "s|^ExecStart=/usr/bin/$name|ExecStart=$scratch/root/usr/bin/$name|" \
    "$scratch/root/usr/lib/systemd/user/$name.service" >"$scratch/unit/$name.service"
  verdict=$(XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze --user verify --man=no "$scratch/unit/$name.service" 2>&1) ||
    fail "systemd-analyze verify failed"
  [[ -z "$verdict" ]] || fail "systemd-analyze verify: $verdict"
else
  echo "systemd-analyze is not installed: the user unit is not verified"
fi

[[ $failures -eq 0 ]] || exit 1
echo "ok: $package"
