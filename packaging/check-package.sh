#!/usr/bin/env bash
# Builds the Debian package from an already built tree and checks it: the
# files it installs, dependencies computed from the shared libraries, the
# desktop entry and the AppStream metainfo through their validators, the
# icons' sizes and the man page.
#   check-package.sh BUILD_DIR [gui|cli]
set -euo pipefail
build=$(cd "$1" && pwd)
kind=${2:-gui}
id=com.trelvitools.TrelviTools
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAILED: cpack"
  exit 1
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
if [[ ${#debs[@]} -ne 1 ]]; then
  cat "$work/cpack.log"
  echo "FAILED: cpack made ${#debs[@]} packages"
  exit 1
fi
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
expected_name="trelvi-tools_${version}_${arch}.deb"
[[ $(basename "$deb") == "$expected_name" ]] ||
  fail "package file is $(basename "$deb"), not $expected_name"

echo "== dpkg-deb -c $(basename "$deb")"
dpkg-deb -c "$deb" | tee "$work/contents"
echo "== control"
dpkg-deb -f "$deb" Package Version Architecture Depends

expected=(./usr/bin/trelvi ./usr/share/man/man1/trelvi.1.gz)
if [[ $kind == gui ]]; then
  expected+=(
    ./usr/bin/trelvi-gui
    "./usr/share/applications/$id.desktop"
    "./usr/share/metainfo/$id.metainfo.xml"
    "./usr/share/mime/packages/$id.xml"
    "./usr/share/icons/hicolor/scalable/apps/$id.svg"
  )
  for size in 48 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
  done
fi
for path in "${expected[@]}"; do
  awk '{print $6}' "$work/contents" | grep -qxF "$path" || fail "$path is not in the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libtiff6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
if [[ $kind == gui ]]; then
  [[ $depends == *libqt6widgets6* ]] || fail "Depends lacks libqt6widgets6: $depends"
fi

root=$work/root
dpkg-deb -x "$deb" "$root"

if [[ $kind == gui ]]; then
  desktop=$root/usr/share/applications/$id.desktop
  echo "== desktop-file-validate"
  if ! desktop-file-validate "$desktop"; then fail "desktop-file-validate"; fi
  grep -qx "Name=Trelvi Tools" "$desktop" || fail "the desktop entry is not named Trelvi Tools"
  grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
  # The window sends its launcher progress for this entry.
  grep -qF "$id" "$root/usr/bin/trelvi-gui" || fail "trelvi-gui does not name $id"

  echo "== appstreamcli validate --no-net"
  if ! appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"; then
    fail "appstreamcli validate"
  fi

  for size in 48 128 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    file -b "$png" | grep -q "PNG image data, $size x $size" ||
      fail "$png is not a $size px PNG: $(file -b "$png")"
  done
fi

echo "== man trelvi"
page=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/trelvi.1.gz" 2>&1 | col -b)
for heading in NAME SYNOPSIS COMMANDS "EXIT STATUS" EXAMPLES; do
  grep -q "^$heading" <<<"$page" || fail "the man page has no $heading section"
done
grep -q "trelvi 2\|$version" <<<"$page" || fail "the man page does not carry the version"

"$root/usr/bin/trelvi" --version | grep -qx "trelvi $version" ||
  fail "the packaged trelvi does not say its version $version"

if [[ $failures -gt 0 ]]; then
  echo "package check: $failures failed"
  exit 1
fi
echo "package check: $(basename "$deb") is complete"
