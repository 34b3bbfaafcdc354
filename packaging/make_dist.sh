#!/bin/sh
# make dist: puts into dist/ the Windows programs in a zip with a README and the licence for
# Windows users, a source tarball of the tagged tree (the tag v<version> when it exists, else
# HEAD), and SHA256SUMS for both. Every name carries the version. The same commit and the
# same .exe files give the same bytes: each .exe is linked without a time stamp, every file
# time in both archives is the commit's, the members' order and modes are fixed, and neither
# the umask nor the time zone of the machine counts.
# Usage: packaging/make_dist.sh <windows build folder> <dist folder>
set -eu
cd "$(dirname "$0")/.."
windows_build=$1
dist=$2

if [ "$(git rev-parse --show-toplevel 2>/dev/null)" != "$(pwd -P)" ]; then
    echo "make_dist.sh: the source tarball is made with git archive: run make dist in a git clone of ipoib-guidmask" >&2
    exit 1
fi
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
git -c tar.umask=0022 archive --format=tar --prefix="$name/" "$ref" | gzip -n -9 > "$dist/$name.tar.gz"

# The zip's texts with CR LF line ends, for Notepad.
cp "$windows_build/ipoib-guidmask.exe" "$dist/windows/ipoib-guidmask.exe"
cp "$windows_build/ipoib-guidmask-audit.exe" "$dist/windows/ipoib-guidmask-audit.exe"
sed -e "s/@VERSION@/$version/" -e 's/$/\r/' packaging/README-windows.txt.in \
    > "$dist/windows/README.txt"
sed -e 's/$/\r/' LICENSE > "$dist/windows/LICENSE.txt"
chmod 755 "$dist/windows/ipoib-guidmask.exe" "$dist/windows/ipoib-guidmask-audit.exe"
chmod 644 "$dist/windows/README.txt" "$dist/windows/LICENSE.txt"
touch -d "@$stamp" "$dist/windows/ipoib-guidmask.exe" "$dist/windows/ipoib-guidmask-audit.exe" \
    "$dist/windows/README.txt" "$dist/windows/LICENSE.txt"
(cd "$dist/windows" && TZ=UTC zip -q -X -9 "../$name-windows-x86_64.zip" \
    ipoib-guidmask.exe ipoib-guidmask-audit.exe README.txt LICENSE.txt)
rm -rf "$dist/windows"

(cd "$dist" && sha256sum "$name-windows-x86_64.zip" "$name.tar.gz" > SHA256SUMS)
ls -l "$dist"
