#!/usr/bin/env bash
# Checks an install tree (cmake --install --prefix DIR, or an unpacked package's DIR/usr) for
# everything Pek installs. Prints what is missing or wrong; exit 1 when anything is.
#   packaging/check-install-tree.sh PREFIX
set -uo pipefail
PREFIX=${1:?usage: check-install-tree.sh PREFIX}
faults=0
fault() { echo "install tree: $*" >&2; faults=$((faults + 1)); }
need() { [ -e "$PREFIX/$1" ] || fault "missing $1"; }

for program in pek pek-send pek-run devsim; do
  [ -x "$PREFIX/bin/$program" ] || fault "missing bin/$program"
done

# The library under lib or lib/<multiarch>, as the real file, its soname link and the link to build with.
lib=$(cd "$PREFIX" && ls -d lib/libvelk.so lib/*/libvelk.so 2>/dev/null | head -n 1)
if [ -z "$lib" ]; then
  fault "missing lib/libvelk.so"
else
  libdir=$(dirname "$lib")
  soname=$(readelf -d "$PREFIX/$lib" 2>/dev/null | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ -n "$soname" ] || fault "$lib has no soname"
  [ -n "$soname" ] && [ -e "$PREFIX/$libdir/$soname" ] || fault "missing $libdir/${soname:-libvelk.so.N}"
  need "$libdir/pkgconfig/velk.pc"
  if [ -f "$PREFIX/$libdir/pkgconfig/velk.pc" ]; then
    pc() { PKG_CONFIG_PATH="$PREFIX/$libdir/pkgconfig" pkg-config "$@" velk 2>&1; }
    inc=$(pc --variable=includedir) || fault "velk.pc: $inc"
    [ -f "$inc/velk/velk.h" ] || fault "velk.pc names $inc, which has no velk/velk.h"
    pcLibdir=$(pc --variable=libdir) || fault "velk.pc: $pcLibdir"
    [ -e "$pcLibdir/libvelk.so" ] || fault "velk.pc names $pcLibdir, which has no libvelk.so"
  fi
fi
need include/velk/velk.h

desktop=$PREFIX/share/applications/pek.desktop
if [ -f "$desktop" ]; then
  for key in Name Comment Exec Icon Categories Keywords; do
    grep -q "^$key=" "$desktop" || fault "pek.desktop has no $key"
  done
  for category in Development Electronics; do
    grep -q "^Categories=.*\b$category;" "$desktop" || fault "pek.desktop is not in category $category"
  done
  grep -qi '^Keywords=.*serial' "$desktop" || fault "pek.desktop has no keyword serial"
else
  fault "missing share/applications/pek.desktop"
fi

need share/icons/hicolor/scalable/apps/pek.svg
for size in 16 32 48 64 128 256; do
  need "share/icons/hicolor/${size}x${size}/apps/pek.png"
done

for page in pek pek-send pek-run devsim; do
  man=$PREFIX/share/man/man1/$page.1.gz
  if [ -f "$man" ]; then
    gzip -t "$man" 2>/dev/null || fault "share/man/man1/$page.1.gz is not gzip"
  else
    fault "missing share/man/man1/$page.1.gz"
  fi
done

need share/pek/examples/demo.lua

if [ "$faults" -gt 0 ]; then
  echo "install tree: $faults fault(s) under $PREFIX" >&2
  exit 1
fi
echo "install tree: complete under $PREFIX"
