#!/usr/bin/env bash
# Builds the Linux and the Windows launcher and runs every test: the Linux
# ones natively against the real JDK, the Windows ones under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/packages.sh

# openjdk-17-jre brings libsplashscreen.so, xvfb the display it shows on.
ensure_packages cmake make g++ googletest openjdk-17-jdk-headless openjdk-17-jre xvfb g++-mingw-w64-x86-64-posix \
    wine64 wine

echo "== Linux: build"
cmake -S . -B build/linux >/dev/null
cmake --build build/linux -j2

echo "== Windows: build"
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build/windows -j2

# The launcher must run on a bare Windows: no DLL beyond the system's.
dlls=$(x86_64-w64-mingw32-objdump -p build/windows/brumlet.exe | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
    case "$dll" in
        kernel32.dll|msvcrt.dll|advapi32.dll|user32.dll) ;;
        *) echo "brumlet.exe depends on $dll, which Windows does not ship"; exit 1 ;;
    esac
done

# The Linux launcher carries its C++ runtime: only the C library and the
# loader are loaded at start.
libs=$(ldd build/linux/brumlet | awk '{print $1}' | grep -v -e '^linux-vdso' -e '^libc\.so' -e '^/lib64/ld-linux' || true)
if [ -n "$libs" ]; then
    echo "brumlet loads $libs at start; only libc was expected"; exit 1
fi

echo "== Linux: tests"
# Under a virtual X display of its own, where the splash screen is shown.
(cd build/linux && xvfb-run -a ctest --output-on-failure)

echo "== Windows: tests under Wine"
# A prefix of this run's own, and one wineserver kept alive for all Wine
# starts (each then takes milliseconds instead of seconds).
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/brumlet-wine.XXXXXX)
export WINEDEBUG=-all
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -p &
(cd build/windows && ctest --output-on-failure)
