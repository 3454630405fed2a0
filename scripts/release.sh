#!/usr/bin/env bash
# Builds the release, both launchers as shipped, into DIR (default dist/):
#
#   DIR/brumlet                  Linux x64, stripped; needs glibc 2.17 or later
#   DIR/brumlet.exe              Windows x64, stripped
#   DIR/debug/brumlet.debug      their debug information, which each
#   DIR/debug/brumlet.exe.debug  launcher names in its .gnu_debuglink
#   DIR/SHA256SUMS               the digests of the four
#
# The Linux launcher is built in a Debian 11 root (glibc 2.31, GCC 10), made
# once with debootstrap in build/debian11-root: built on a newer system it
# would need that system's glibc. The Windows one is built with this
# system's MinGW-w64. The build is reproducible: the same sources give the
# same bytes wherever and whenever they are built.
#
#   scripts/release.sh [DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dist=${1:-$top/dist}
mkdir -p "$dist"
dist=$(cd "$dist" && pwd)
cd "$top"
. scripts/packages.sh

ensure_packages cmake make g++-mingw-w64-x86-64-posix openjdk-17-jdk-headless binutils
root=$top/build/debian11-root
ensure_debian11_root "$root"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# Both builds use a copy of the JDK's headers in the tree, the only place
# the root sees.
build=$top/build/release
rm -rf "$build"
mkdir -p "$build"
cp -rL /usr/lib/jvm/java-17-openjdk-amd64/include "$build/jni"
stage=$build/stage

# quietly COMMAND…: runs it, showing its output only when it fails.
quietly() {
    local log
    log=$(mktemp)
    "$@" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; return 1; }
    rm -f "$log"
}

echo "== Linux launcher, in the Debian 11 root"
# The root sees this tree at /brumlet, through a mount of this command's
# own, and builds as the caller's user, who owns what it writes.
$sudo mkdir -p "$root/brumlet"
quietly $sudo unshare --mount sh -ec '
    mount --bind "$2" "$1/brumlet"
    exec chroot --userspec="$3" "$1" env -i PATH=/usr/bin:/bin HOME=/tmp sh -ec "
        cmake -S /brumlet -B /brumlet/build/release/linux -DCMAKE_BUILD_TYPE=Release -DBRUMLET_TESTS=OFF \
            -DBRUMLET_JNI_INCLUDE=/brumlet/build/release/jni
        cmake --build /brumlet/build/release/linux -j2
        cmake --install /brumlet/build/release/linux --prefix /brumlet/build/release/stage/linux --strip"' \
    sh "$root" "$top" "$(id -u):$(id -g)"

echo "== Windows launcher, with MinGW-w64"
# As in the root, no variable of the caller's (CXXFLAGS, say) reaches it.
clean=(env -i PATH=/usr/bin:/bin HOME=/tmp)
quietly "${clean[@]}" cmake -S . -B "$build/windows" -DCMAKE_BUILD_TYPE=Release -DBRUMLET_TESTS=OFF \
    -DBRUMLET_JNI_INCLUDE="$build/jni" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
quietly "${clean[@]}" cmake --build "$build/windows" -j2
quietly "${clean[@]}" cmake --install "$build/windows" --prefix "$stage/windows" --strip

# The release's files, replaced one by one: DIR may hold others.
files=(brumlet brumlet.exe debug/brumlet.debug debug/brumlet.exe.debug)
(cd "$dist" && rm -f "${files[@]}" SHA256SUMS)
mkdir -p "$dist/debug"
for port in linux windows; do
    cp "$stage/$port"/bin64/* "$dist/"
    cp "$stage/$port"/lib/debug/bin64/* "$dist/debug/"
done
(cd "$dist" && sha256sum "${files[@]}" >SHA256SUMS)

echo "== Release in $dist"
for file in "${files[@]}"; do
    printf '%-24s %9s bytes\n' "$file" "$(stat -c %s "$dist/$file")"
done
glibc=$(objdump -T "$dist/brumlet" | grep -o 'GLIBC_[0-9.]*' | sed 's/^GLIBC_//' | sort -uV | tail -n 1)
echo "brumlet needs glibc $glibc or later (the highest GLIBC_ version of its symbols)"
cat "$dist/SHA256SUMS"
