#!/usr/bin/env bash
# Builds the Linux and the Windows launcher and runs every test: the Linux
# ones natively against the real JDK, again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows ones under Wine; then makes
# the release twice and checks it, and runs its Linux launcher on an older
# system.
#
#   scripts/test.sh [PHASE…]   the phases named, in the order given; all
#                              of them, in the order below, without any
#
#   deps       the packages and locales the tests need
#   linux      the Linux build and its tests, against the real JDK
#   sanitized  the Linux unit and launcher tests under the sanitizers
#   windows    the Windows build, its imports and resources, its tests under Wine
#   release    scripts/release.sh from two copies of the sources: the same bytes
#   old-glibc  the release's Linux launcher: its glibc, and runs in Debian 11
#
# Each phase works alone: it makes the builds and installs the packages it
# needs.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/packages.sh

phases=(deps linux sanitized windows release old-glibc)
for phase in "$@"; do
    known=""
    for name in "${phases[@]}"; do [ "$phase" != "$name" ] || known=yes; done
    [ -n "$known" ] || { echo "scripts/test.sh: unknown phase '$phase' (the phases: ${phases[*]})" >&2; exit 2; }
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# Commands run at exit, last added first.
exit_commands=()
at_exit() {
    exit_commands=("$1" "${exit_commands[@]}")
}
run_exit_commands() {
    local command
    for command in "${exit_commands[@]}"; do eval "$command" || true; done
}
trap run_exit_commands EXIT

deps_done=""
phase_deps() {
    [ -z "$deps_done" ] || return 0
    # openjdk-17-jre brings libsplashscreen.so, xvfb the display it shows on.
    ensure_packages cmake make g++ googletest openjdk-17-jdk-headless openjdk-17-jre xvfb g++-mingw-w64-x86-64-posix \
        wine64 wine locales
    # Two Japanese locales: EUC-JP, whose character set is neither UTF-8 nor
    # Latin-1, for the tests that decode arguments as java does; UTF-8, under
    # which Wine runs in code page 932 and still names files outside ASCII.
    local charset
    for charset in EUC-JP UTF-8; do
        locale -a | grep -qix "ja_JP.$(tr -d '-' <<<"$charset" | tr 'A-Z' 'a-z')" ||
            $sudo localedef -i ja_JP -f "$charset" "ja_JP.$charset"
    done
    deps_done=yes
}

phase_linux() {
    phase_deps
    echo "== Linux: build"
    cmake -S . -B build/linux >/dev/null
    cmake --build build/linux -j2

    # The Linux launcher carries its C++ runtime: only the C library and the
    # loader are loaded at start.
    local libs
    libs=$(ldd build/linux/brumlet | awk '{print $1}' | grep -v -e '^linux-vdso' -e '^libc\.so' -e '^/lib64/ld-linux' || true)
    if [ -n "$libs" ]; then
        echo "brumlet loads $libs at start; only libc was expected"; exit 1
    fi

    echo "== Linux: tests"
    # The real-JDK tests run with JDK 17 and again with each newer JDK of the
    # machine's JVM directory (tests/CMakeLists.txt): say which.
    local release
    for release in /usr/lib/jvm/*/release; do
        [ -f "$release" ] && echo "JDK $(sed -n 's/^JAVA_VERSION="\(.*\)"/\1/p' "$release") in $(dirname "$release")"
    done
    grep -qs '^JAVA_VERSION="25' /usr/lib/jvm/*/release ||
        echo "NOTE: no JDK 25 in /usr/lib/jvm (Debian 12 packages only 17): the JDK 25 rows are not run"
    # Under a virtual X display of its own, where the splash screen is shown.
    (cd build/linux && xvfb-run -a ctest --output-on-failure)
}

phase_sanitized() {
    phase_deps
    echo "== Linux: unit and launcher tests under AddressSanitizer and UndefinedBehaviorSanitizer"
    # Every finding of any process of the run (the launcher and the test child
    # too) lands in a log of its own; one log fails the run. The random quoting
    # round trip checks values, not memory, and takes long when sanitized: it
    # runs in the plain builds, and scripts/fuzz.sh covers that code sanitized.
    # The rows repeated with each newer JDK run in the plain build only.
    cmake -S . -B build/linux-asan -DBRUMLET_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" >/dev/null
    cmake --build build/linux-asan -j2 --target unit_tests launcher_tests
    local findings=$top/build/linux-asan/findings
    rm -rf "$findings" && mkdir -p "$findings"
    local status=0
    (cd build/linux-asan &&
        export UBSAN_OPTIONS="print_stacktrace=1:log_path=$findings/ubsan" &&
        ASAN_OPTIONS="detect_leaks=1:log_path=$findings/asan" GTEST_FILTER="-QuoteRoundTrip.*:InProcessJdk.*:Messages.*" \
        ctest --output-on-failure -E '_jdk[0-9]+$') || status=$?
    # The leak checker stops every thread of the process to look at it, which
    # the real JVM inside the launcher does not survive: the in-process launches
    # (the message rows among them) are checked for everything else. The JVM handles SIGSEGV, SIGBUS and SIGFPE
    # itself; with AddressSanitizer's handlers in the way, -Xcheck:jni's periodic
    # check finds them changed and says so on standard output whenever a run
    # lasts long enough for the check, as on a loaded machine.
    local in_process_log=$top/build/linux-asan/in-process.log
    if ! (cd build/linux-asan &&
        export UBSAN_OPTIONS="print_stacktrace=1:log_path=$findings/ubsan" &&
        ASAN_OPTIONS="detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:log_path=$findings/asan" xvfb-run -a ./launcher_tests --gtest_filter="InProcessJdk.*:Messages.*" \
        >"$in_process_log" 2>&1); then
        cat "$in_process_log"
        echo "the in-process launches failed under the sanitizers (output above)"
        status=1
    fi
    if [ -n "$(ls -A "$findings")" ]; then
        cat "$findings"/*
        echo "the sanitizers reported the findings above"
        status=1
    fi
    [ "$status" -eq 0 ] || { echo "the sanitized tests failed"; exit 1; }
}

phase_windows() {
    phase_deps
    echo "== Windows: build"
    cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
    cmake --build build/windows -j2

    # The launcher must run on a bare Windows, and start fast: it imports
    # kernel32 and the C runtime only (advapi32 and user32, which cost every
    # start their initialisation, are bound where they are needed).
    local dlls dll
    dlls=$(x86_64-w64-mingw32-objdump -p build/windows/brumlet.exe | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
    for dll in $dlls; do
        case "$dll" in
            kernel32.dll|msvcrt.dll) ;;
            *) echo "brumlet.exe imports $dll; only kernel32.dll and msvcrt.dll are expected"; exit 1 ;;
        esac
    done

    # The manifest (resource type 24) and the version information (type 16) are
    # compiled in: entries of the top level of the resource directory.
    local resources type
    resources=$(x86_64-w64-mingw32-objdump -p build/windows/brumlet.exe | sed -n '/Resource Directory section/,$p')
    for type in 0x000018 0x000010; do
        grep -Eq "^[0-9a-f]+   Entry: ID: $type," <<<"$resources" ||
            { echo "brumlet.exe lacks the resource of type $type"; exit 1; }
    done

    echo "== Windows: tests under Wine"
    # A prefix of this run's own, and one wineserver kept alive for all Wine
    # starts (each then takes milliseconds instead of seconds).
    local wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64
    export WINEPREFIX
    WINEPREFIX=$(mktemp -d /tmp/brumlet-wine.XXXXXX)
    export WINEDEBUG=-all
    at_exit "\"$wineserver\" -k 2>/dev/null; rm -rf \"$WINEPREFIX\""
    # Both start with standard input and output away from this script's pipes,
    # which a lasting wineserver would otherwise keep open. All of it runs on a
    # virtual X display of its own: Wine makes a console (the tests of what a
    # console shows) only on a display, and the desktop process that wineboot
    # leaves running must have that display too.
    xvfb-run -a bash -c '"$1" wineboot -i </dev/null >/dev/null 2>&1
        "$2" -p </dev/null >/dev/null 2>&1 &
        cd build/windows && ctest --output-on-failure' windows-tests "$wine" "$wineserver"
}

# The Linux release is built, and run, in a Debian 11 root (glibc 2.31),
# made once and kept in build/.
root=$top/build/debian11-root
in_root() {  # PATH… : the path as the root sees it
    local path
    for path in "$@"; do echo "${path#"$root"}"; done
}
# run_in_root SUITE RUNTIME COMMAND…: COMMAND in the root, with the suite
# at SUITE (a place inside the root) and RUNTIME, a directory, bound to its
# bin64/jre64, or its own bin64/jre64 for an empty RUNTIME.
run_in_root() {
    local suite=$1 runtime=$2
    shift 2
    $sudo unshare --pid --fork --mount --mount-proc="$root/proc" sh -c '
        runtime=$1 suite=$2 root=$3 rootdir=$4
        shift 4
        [ -z "$runtime" ] || mount --bind -o ro "$runtime" "$suite/bin64/jre64" || exit 99
        exec chroot "$root" env -i PATH=/usr/bin:/bin DRAVON_ROOTDIR="$rootdir" "$@"' sh "$runtime" "$suite" "$root" \
        "$(in_root "$suite")" "$@"
}

# The release that the release phase made, for the old-glibc phase.
release_dist=""

phase_release() {
    phase_deps
    echo "== Release: scripts/release.sh from two copies of the sources, compared"
    # The Debian 11 root is made once, here, and shared by both copies.
    ensure_debian11_root "$root"
    # The release build is reproducible: copies of the tracked files in two
    # directories of different lengths, built at different times, give the
    # same bytes, the second written to a directory outside its copy.
    local scratch copy
    scratch=$(mktemp -d /tmp/brumlet-release.XXXXXX)
    at_exit "rm -rf \"$scratch\""
    for copy in "$scratch/a" "$scratch/second-copy/b"; do
        mkdir -p "$copy/build"
        git ls-files -z | xargs -0 cp --parents -t "$copy"
        ln -s "$root" "$copy/build/debian11-root"
    done
    "$scratch/a/scripts/release.sh"
    "$scratch/second-copy/b/scripts/release.sh" "$scratch/second-release"
    diff -r "$scratch/a/dist" "$scratch/second-release" ||
        { echo "the two releases differ"; exit 1; }
    echo "the two releases are the same bytes"
    release_dist=$scratch/a/dist
    local dist=$release_dist

    # Each launcher names its debug file, which is not executable.
    local name objcopy named
    for name in brumlet brumlet.exe; do
        objcopy=objcopy
        [ "$name" = brumlet ] || objcopy=x86_64-w64-mingw32-objcopy
        $objcopy --dump-section .gnu_debuglink="$scratch/debuglink" "$dist/$name" "$scratch/copy"
        named=$(tr '\0' '\n' <"$scratch/debuglink" | head -n 1)
        [ "$named" = "$name.debug" ] && [ -f "$dist/debug/$named" ] && [ ! -x "$dist/debug/$named" ] ||
            { echo "$name names '$named' as its debug file, not $name.debug, a file of debug/ not executable"; exit 1; }
    done

    # One version everywhere: the project's in CMakeLists.txt, the text
    # "brumlet VERSION" in both launchers, and the Windows version resource.
    local version resource texts
    version=$(sed -n 's/^project(brumlet VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
    resource=$(x86_64-w64-mingw32-windres -i "$dist/brumlet.exe" -O rc)
    grep -q "^ FILEVERSION ${version//./, }, 0\$" <<<"$resource" &&
        grep -q "^ PRODUCTVERSION ${version//./, }, 0\$" <<<"$resource" &&
        grep -q "VALUE \"FileVersion\", \"$version\"\$" <<<"$resource" &&
        grep -q "VALUE \"ProductVersion\", \"$version\"\$" <<<"$resource" ||
        { echo "brumlet.exe's version resource does not say $version:"; grep -i version <<<"$resource"; exit 1; }
    for name in brumlet brumlet.exe; do
        texts=$({ strings -a "$dist/$name"; strings -a -el "$dist/$name"; } | grep -oE 'brumlet [0-9]+(\.[0-9]+)+' | sort -u || true)
        [ -n "$texts" ] ||
            { echo "FAILED: $name lacks the text 'brumlet $version' (the version in CMakeLists.txt)"; exit 1; }
        [ "$texts" = "brumlet $version" ] ||
            { echo "FAILED: $name says '${texts//$'\n'/', '}', not 'brumlet $version' (the version in CMakeLists.txt)"; exit 1; }
    done
    echo "both launchers say brumlet $version, as CMakeLists.txt and brumlet.exe's version resource"
}

phase_old_glibc() {
    phase_deps
    echo "== Release: the Linux launcher on older systems"
    # The Debian 11 root holds a scratch place of this phase, seen there at
    # the same path less the root's; the launcher is the release phase's, or
    # else one that release.sh makes here.
    ensure_debian11_root "$root"
    local scratch
    scratch=$(mktemp -d "$root/tmp/brumlet-old-glibc.XXXXXX")
    at_exit "$sudo rm -rf \"$scratch\""
    if [ -z "$release_dist" ]; then
        scripts/release.sh "$scratch/dist"
        release_dist=$scratch/dist
    fi
    # It needs no glibc newer than 2.17, on which the Java runtimes run too
    # (RHEL 7 and later): the highest version any of its symbols names.
    local launcher=$release_dist/brumlet glibc_floor=2.17 glibc_needed lib
    glibc_needed=$(objdump -T "$launcher" | grep -o 'GLIBC_[0-9.]*' | sed 's/^GLIBC_//' | sort -V | tail -n 1)
    echo "the release launcher needs glibc $glibc_needed (the floor: $glibc_floor)"
    [ "$(printf '%s\n' "$glibc_needed" "$glibc_floor" | sort -V | tail -n 1)" = "$glibc_floor" ] ||
        { echo "the release launcher needs glibc $glibc_needed, newer than $glibc_floor"; exit 1; }
    # It loads the C library and the loader, and the libraries that glibc
    # before 2.34 keeps apart (later ones as empty stand-ins).
    for lib in $(objdump -p "$launcher" | sed -n 's/^ *NEEDED *//p'); do
        case "$lib" in
            libc.so.6|ld-linux-x86-64.so.2|libdl.so.2|libpthread.so.0) ;;
            *) echo "the release launcher needs $lib"; exit 1 ;;
        esac
    done
    # It runs in the Debian 11 root, as a suite's launcher: on a stand-in java
    # that shows the words it gets, and, where a Java runtime of this machine
    # runs there too (none newer than glibc 2.31 needed), on the sample tool,
    # as plain java does: the same output and exit status, started by exec and
    # in-process. Each run gets a /proc of its own and the runtime bound to the
    # suite's place, both gone with it.
    local suite=$scratch/suite
    mkdir -p "$suite/bin64/jre64/bin" "$scratch/classes"
    cp "$launcher" "$suite/bin64/"
    printf '#!/bin/sh\nprintf "<%%s>" "$@"\n' >"$suite/bin64/jre64/bin/java"
    chmod +x "$suite/bin64/jre64/bin/java"
    javac -d "$scratch/classes" examples/sample-tool/com/velkor/brumlet/Brumlet.java
    jar cf "$suite/bin64/sample-tool.jar" -C "$scratch/classes" .
    local inner_suite words expected
    inner_suite=$(in_root "$suite")
    words=$(run_in_root "$suite" "" "$inner_suite/bin64/brumlet" hello "two words" 'C:\dir\')
    expected="<-cp><$inner_suite/bin64/sample-tool.jar><com.velkor.brumlet.Brumlet><hello><two words><C:\\dir\\>"
    [ "$words" = "$expected" ] || { echo "in Debian 11 the launcher ran java with $words, not $expected"; exit 1; }
    echo "Debian 11 (glibc 2.31): the launcher hands java $words"
    local ran_jdk="" jvm needs runtime tool status plain option launched launched_status
    for jvm in /usr/lib/jvm/*/lib/server/libjvm.so; do
        [ -f "$jvm" ] || continue
        needs=$(objdump -T "$jvm" | grep -o 'GLIBC_[0-9.]*' | sed 's/^GLIBC_//' | sort -V | tail -n 1)
        [ "$(printf '%s\n' "$needs" 2.31 | sort -V | tail -n 1)" = 2.31 ] || continue
        runtime=$(dirname "$(dirname "$(dirname "$jvm")")")
        tool=(-cp "$inner_suite/bin64/sample-tool.jar" com.velkor.brumlet.Brumlet hello "two words" --exit=3)
        status=0
        plain=$(run_in_root "$suite" "$runtime" "$inner_suite/bin64/jre64/bin/java" "${tool[@]}" 2>&1) || status=$?
        for option in "" --wrapper-load-jvm-in-process; do
            launched_status=0
            launched=$(run_in_root "$suite" "$runtime" "$inner_suite/bin64/brumlet" $option "${tool[@]:3}" 2>&1) || launched_status=$?
            [ "$launched" = "$plain" ] && [ "$launched_status" = "$status" ] || {
                printf 'in Debian 11 with %s, brumlet %s gave (status %s)\n%s\nand plain java (status %s)\n%s\n' \
                    "$runtime" "$option" "$launched_status" "$launched" "$status" "$plain"
                exit 1
            }
        done
        echo "Debian 11 (glibc 2.31): the sample tool on $runtime, by exec and in-process, as with plain java (status $status)"
        ran_jdk=yes
    done
    [ -n "$ran_jdk" ] || echo "NOTE: no Java runtime here runs on glibc 2.31: the launcher ran on the stand-in java only"
}

[ $# -gt 0 ] || set -- "${phases[@]}"
for phase in "$@"; do
    "phase_${phase//-/_}"
done
