#!/bin/sh
# make dist: puts into dist/ the Windows programs in a zip with a README for Windows users,
# a source tarball of the tagged tree (the tag v<version> when it exists, else HEAD), and
# SHA256SUMS for both. Every name carries the version; file times are the commit's, so the
# same tree gives the same bytes.
# Usage: packaging/make_dist.sh <windows build folder> <dist folder>
set -eu
cd "$(dirname "$0")/.."
windows_build=$1
dist=$2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows_build/CMakeCache.txt")
[ -n "$version" ] || { echo "make_dist.sh: no project version in $windows_build" >&2; exit 1; }
name=ipoib-guidmask-$version
if git rev-parse -q --verify "refs/tags/v$version" >/dev/null; then
    ref=v$version
else
    ref=HEAD
    echo "make_dist.sh: no tag v$version: the source tarball is of HEAD"
fi
stamp=$(git log -1 --format=%ct "$ref")

rm -rf "$dist"
mkdir -p "$dist/windows"
git archive --format=tar --prefix="$name/" "$ref" | gzip -n -9 > "$dist/$name.tar.gz"

cp "$windows_build/ipoib-guidmask.exe" "$dist/windows/ipoib-guidmask.exe"
cp "$windows_build/ipoib-guidmask-audit.exe" "$dist/windows/ipoib-guidmask-audit.exe"
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/README-windows.txt.in \
    > "$dist/windows/README.txt"
touch -d "@$stamp" "$dist/windows/ipoib-guidmask.exe" "$dist/windows/ipoib-guidmask-audit.exe" \
    "$dist/windows/README.txt"
(cd "$dist/windows" && TZ=UTC zip -q -X -9 "../$name-windows-x86_64.zip" \
    ipoib-guidmask.exe ipoib-guidmask-audit.exe README.txt)
rm -rf "$dist/windows"

(cd "$dist" && sha256sum "$name-windows-x86_64.zip" "$name.tar.gz" > SHA256SUMS)
ls -l "$dist"
