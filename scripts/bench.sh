#!/usr/bin/env bash
# Measures what the launcher costs in front of its child, each case beside
# its floor in the same run, and writes BENCHMARKS.md whole (how and on what
# it was measured, what each row means, the figures) and bench/scaling.png
# (time against jars and against arguments). The text is kept beside this
# script, in bench.md.in, and written with the figures, so that a run never
# loses it and the two always agree.
#
#   scripts/bench.sh           the full run (several minutes; keep the machine quiet)
#   scripts/bench.sh --quick   a few runs of each case, to see that every part
#                              works; writes into build/bench-quick, not here
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/packages.sh

quick=0
[ "${1:-}" = "--quick" ] && quick=1
if [ $quick -eq 1 ]; then
    runs=5 jvm_runs=3 cache_runs=3 newer_cache_runs=3 warmup=1 rounds=1 jar_counts="10 100" arg_counts="10 1000"
else
    # Many short rounds: this machine's speed drifts within seconds, and a
    # round's ratio is only as good as the closeness in time of its two medians.
    runs=500 jvm_runs=300 cache_runs=40 newer_cache_runs=40 warmup=3 rounds=20 jar_counts="10 100 1000 10000" arg_counts="10 1000 100000"
fi

ensure_packages cmake make gcc g++ openjdk-17-jdk-headless hyperfine gnuplot-nox time \
    g++-mingw-w64-x86-64-posix wine64 wine checkstyle

# quietly COMMAND...: runs it, showing its output only when it fails.
quietly() {
    local log
    log=$(mktemp)
    "$@" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; return 1; }
    rm -f "$log"
}
# fill_template TEMPLATE NAME=VALUE…: the template with each @NAME@ in it
# replaced by VALUE, taken as it is (an & in it stays an &).
fill_template() {
    local text pair
    text=$(<"$1")
    shift
    shopt -u patsub_replacement 2>/dev/null || true
    for pair in "$@"; do
        text=${text//"@${pair%%=*}@"/"${pair#*=}"}
    done
    printf '%s\n' "$text"
}
echo "== Building the launchers (release)"
quietly cmake -S . -B build/bench -DBRUMLET_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
quietly cmake --build build/bench -j2
quietly cmake -S . -B build/bench-windows -DBRUMLET_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
quietly cmake --build build/bench-windows -j2

scratch=$(mktemp -d /tmp/brumlet-bench.XXXXXX)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
export WINEPREFIX=$scratch/wine WINEDEBUG=-all
cleanup() {
    local status=$?
    # A command that failed under hyperfine says why only in its log.
    [ $status -eq 0 ] || [ ! -s "$scratch/hyperfine.log" ] || tail -20 "$scratch/hyperfine.log" >&2
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
out_dir=$top
[ $quick -eq 1 ] && out_dir=$top/build/bench-quick && mkdir -p "$out_dir/bench"

# The floors: a static program that does nothing, for Linux and Windows.
gcc -O2 -static -o "$scratch/trivial" bench/trivial.c
x86_64-w64-mingw32-gcc -O2 -static -o "$scratch/trivial.exe" bench/trivial.c
trivial=$scratch/trivial
# For reference, linked as the launcher is (shared C library): a minimal
# program that starts the trivial child and waits for it, one that execs
# it, as the Linux launcher does, and a shell script that execs it.
gcc -O2 -o "$scratch/spawn" bench/spawn.c
gcc -O2 -o "$scratch/exec" bench/exec.c
printf '#!/bin/sh\nexec %s "$@"\n' "$trivial" >"$scratch/exec.sh"
chmod +x "$scratch/exec.sh"

# The tool, and a suite whose runtime is this machine's JDK.
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v java)")")")
mkdir -p "$scratch/classes"
javac -d "$scratch/classes" bench/tool/com/velkor/brumlet/Brumlet.java
jar cf "$scratch/tool.jar" -C "$scratch/classes" .

# make_suite DIR JARS: DIR/bin64 with the launcher, the tool and JARS more
# (empty) jars, and the JDK as DIR/bin64/jre64.
make_suite() {
    mkdir -p "$1/bin64"
    cp build/bench/brumlet "$1/bin64/"
    cp "$scratch/tool.jar" "$1/bin64/"
    ln -s "$jdk" "$1/bin64/jre64"
    local i
    for ((i = 0; i < $2; i++)); do : >"$1/bin64/library-$i.jar"; done
}
suite=$scratch/suite
make_suite "$suite" 0
# A runtime whose java is the trivial program, for the launcher's own cost.
mkdir -p "$scratch/trivial-jre/bin"
cp "$trivial" "$scratch/trivial-jre/bin/java"

# The runs of each case are split into rounds that take the commands in
# turn, so that a machine that drifts in speed affects launcher and floor
# alike; a ratio is the median over the rounds of each round's ratio. Each
# round starts one command further on: within one hyperfine call a command
# runs measurably slower in a later place than in an earlier one (up to 6%
# here for the very same command), and rotating gives every command each
# place equally often.
median_of_lines() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# median NAME CSV: the named command's median over the rounds, in milliseconds.
median() {
    cat "$2".* | awk -F, -v name="$1" '$1 == name { print $4 * 1000 }' | median_of_lines | xargs printf '%.3f'
}
# ratio_of A B CSV: the median over the rounds of A's median / B's median.
ratio_of() {
    for round in "$3".*; do
        awk -F, -v a="$1" -v b="$2" '$1 == a { x = $4 } $1 == b { y = $4 } END { print x / y }' "$round"
    done | median_of_lines | xargs printf '%.2f'
}
# in_rounds CSV SIZE [OPTION…] -- ENTRY…: the rounds of one case, one
# hyperfine call each with the OPTIONs, writing CSV.1, CSV.2, …; the ENTRYs
# are the commands' hyperfine arguments, SIZE words each (-n NAME COMMAND,
# after a --prepare COMMAND or not), and each round starts one command
# further on.
in_rounds() {
    local csv=$1 size=$2
    shift 2
    local options=()
    while [ "$1" != -- ]; do
        options+=("$1")
        shift
    done
    shift
    local entries=("$@") n=$(($# / size)) round k i named
    for ((round = 1; round <= rounds; round++)); do
        named=()
        for ((k = 0; k < n; k++)); do
            i=$(((k + round) % n))
            named+=("${entries[@]:i * size:size}")
        done
        hyperfine -N --style none "${options[@]}" --export-csv "$csv.$round" \
            "${named[@]}" >/dev/null 2>>"$scratch/hyperfine.log"
    done
}
# bench CSV RUNS NAME COMMAND NAME COMMAND ...: hyperfine without a shell,
# RUNS of each command in all, writing CSV.1, CSV.2, ... one per round.
bench() {
    local csv=$1 count=$2
    shift 2
    local entries=()
    while [ $# -gt 0 ]; do
        entries+=(-n "$1" "$2")
        shift 2
    done
    in_rounds "$csv" 3 --warmup "$warmup" --runs $((count / rounds)) -- "${entries[@]}"
}
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r <= g) ? "met" : "MISSED" }'; }

rows=()
add_row() {  # case, launcher name, floor name, csv, goal
    local r
    r=$(ratio_of "$2" "$3" "$4")
    rows+=("| $1 | $(median "$2" "$4") | $(median "$3" "$4") | $r× | ≤ $5× | $(verdict "$r" "$5") |")
}

# First the Windows launcher, whose runs under Wine fail the most easily: a
# failure here costs a few minutes, not the whole run.
echo "== Windows launcher under Wine, against a trivial Windows child alone"
"$wine" wineboot -i </dev/null >/dev/null 2>&1 || { echo "wineboot failed in $WINEPREFIX" >&2; exit 1; }
"$wineserver" -p </dev/null >/dev/null 2>&1 &
mkdir -p "$scratch/win/bin64" "$scratch/win-jre/bin"
cp build/bench-windows/brumlet.exe "$scratch/tool.jar" "$scratch/win/bin64/"
cp "$scratch/trivial.exe" "$scratch/win-jre/bin/java.exe"
NATIVE_WRAP_JRE_DIR_OVERRIDE="Z:$scratch/win-jre" bench "$scratch/wine.csv" "$jvm_runs" \
    floor "$wine $scratch/trivial.exe" launcher "$wine $scratch/win/bin64/brumlet.exe"
wine_launcher=$(median launcher "$scratch/wine.csv")
wine_floor=$(median floor "$scratch/wine.csv")
wine_ratio=$(ratio_of launcher floor "$scratch/wine.csv")
"$wineserver" -k 2>/dev/null || true

echo "== Launcher then a trivial child, against the trivial child alone and the references"
NATIVE_WRAP_JRE_DIR_OVERRIDE=$scratch/trivial-jre bench "$scratch/trivial.csv" "$runs" \
    floor "$trivial" launcher "$suite/bin64/brumlet" spawn "$scratch/spawn $trivial" \
    exec "$scratch/exec $trivial" exec.sh "$scratch/exec.sh"
add_row "launcher → trivial child vs. trivial child alone" launcher floor "$scratch/trivial.csv" 2.2
add_row "launcher → trivial child vs. a minimal C program that execs it" launcher exec "$scratch/trivial.csv" 1.15
add_row "launcher → trivial child vs. a \`#!/bin/sh\` script that execs it" launcher exec.sh "$scratch/trivial.csv" 1.00
# reference_row NAME TEXT: a reference against the trivial child alone.
reference_row() {
    echo "| for reference: $2 → trivial child | $(median "$1" "$scratch/trivial.csv") | $(median floor "$scratch/trivial.csv") | $(ratio_of "$1" floor "$scratch/trivial.csv")× | | |"
}
# given_row NAME CSV TEXT: a reference of plain java given TEXT by hand
# (the command NAME) against plain java.
given_row() {
    echo "| for reference: $3 by hand vs. plain \`java\` | $(median "$1" "$2") | $(median java "$2") | $(ratio_of "$1" java "$2")× | | |"
}
reference_rows=("$(reference_row spawn "a minimal C program, linked as the launcher is, that starts and waits")"
    "$(reference_row exec "a minimal C program, linked as the launcher is, that execs")"
    "$(reference_row exec.sh "a \`#!/bin/sh\` script that execs")")

echo "== The real JDK: child launch and in-process launch against plain java"
DRAVON_ROOTDIR=$suite bench "$scratch/jdk.csv" "$jvm_runs" \
    java "$jdk/bin/java -cp $suite/bin64/tool.jar com.velkor.brumlet.Brumlet" \
    child "$suite/bin64/brumlet" \
    in-process "$suite/bin64/brumlet --wrapper-load-jvm-in-process"
add_row "child launch vs. plain \`java\`" child java "$scratch/jdk.csv" 1.02
add_row "in-process launch vs. plain \`java\`" in-process java "$scratch/jdk.csv" 0.97
newer_jdks=() newer_homes=()
# The in-process launch follows the java of the runtime it loads: each newer
# JDK of the machine's JVM directory is timed too, against its own java.
for release in /usr/lib/jvm/*/release; do
    newer=$(dirname "$release")
    major=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$release")
    [ -n "$major" ] && [ "$major" -gt 17 ] && [ "$(readlink -f "$newer")" != "$(readlink -f "$jdk")" ] || continue
    echo "== JDK $major: in-process launch against plain java"
    DRAVON_ROOTDIR=$suite NATIVE_WRAP_JRE_DIR_OVERRIDE=$newer bench "$scratch/jdk$major.csv" "$jvm_runs" \
        java "$newer/bin/java -cp $suite/bin64/tool.jar com.velkor.brumlet.Brumlet" \
        in-process "$suite/bin64/brumlet --wrapper-load-jvm-in-process"
    add_row "in-process launch vs. plain \`java\`, JDK $major" in-process java "$scratch/jdk$major.csv" 1.00
    newer_jdks+=("JDK $major ($newer)")
    newer_homes+=("$newer")
done

# The class-data cache on real tools, each in a suite of its own beside the
# launcher: Debian's checkstyle (its own command's jars, a Brumlet main that
# calls checkstyle's) and javac (a Brumlet main that calls the runtime's
# compiler), with JDK 17 and with each newer JDK of the machine.
# tool_suite DIR JDK MAIN_SOURCE JARS...: the suite, its runtime JDK.
tool_suite() {
    local dir=$1 runtime=$2 source=$3 jar
    shift 3
    mkdir -p "$dir/bin64" "$dir/classes"
    for jar in "$@"; do cp -L "/usr/share/java/$jar.jar" "$dir/bin64/"; done
    javac -d "$dir/classes" -cp "$(find "$dir/bin64" -name '*.jar' | paste -sd:)" "$source"
    jar cf "$dir/bin64/brumlet.jar" -C "$dir/classes" .
    cp build/bench/brumlet "$dir/bin64/"
    ln -s "$runtime" "$dir/bin64/jre64"
}
checkstyle_jars=(antlr antlr4-runtime commons-lang3 commons-beanutils commons-collections3 guava commons-cli
    commons-logging picocli Saxon-HE reflections checkstyle)
checkstyle_args="-c /sun_checks.xml $top/bench/tool/com/velkor/brumlet/Brumlet.java"
mkdir -p "$scratch/javac-out"
javac_args="-d $scratch/javac-out $top/bench/tool/com/velkor/brumlet/Brumlet.java"
inside=--wrapper-load-jvm-in-process
# wait_for_archive DIR: until no detached run makes an archive in DIR's
# cache: none works in its directory or holds a list locked (a complete
# list of a young archive waits for a later run).
wait_for_archive() {
    local own=$1/brumlet-classes list busy
    sleep 0.1
    for _ in $(seq 600); do
        busy=""
        for list in "$own"/*.list; do
            [ ! -e "$list" ] || flock -n "$list" true 2>/dev/null || busy=yes
        done
        ! find /proc -mindepth 2 -maxdepth 2 -name cwd -lname "$own" 2>/dev/null | grep -q . || busy=yes
        [ -n "$busy" ] || return 0
        sleep 0.2
    done
}
export -f wait_for_archive
# cache_rows LABEL SUITE RUNS GOAL RESTORE_GOAL TOOL_ARGS: the cache's rows
# of one tool in SUITE, GOAL the one for the runs with an archive,
# RESTORE_GOAL for the first run after a restore, RUNS of each command.
cache_rows() {
    local label=$1 dir=$2 count=$3 goal=$4 restore_goal=$5 tool_args=$6
    local work=$scratch/cache-$(basename "$dir")
    local warm=$work/warm first=$work/first making=$work/making csv=$work/cache.csv
    mkdir -p "$warm" "$first" "$making"
    local cp runtime
    cp=$(find "$dir/bin64" -name '*.jar' | LC_ALL=C sort | paste -sd:)
    runtime=$(readlink -f "$dir/bin64/jre64")
    # plain_java OPTIONS...: the tool run by plain java given OPTIONS.
    plain_java() { echo "env NATIVE_WRAP_CLASS_CACHE= $runtime/bin/java${*:+ $*} -cp $cp com.velkor.brumlet.Brumlet $tool_args"; }
    local plain
    plain=$(plain_java)
    launcher() { echo "env NATIVE_WRAP_CLASS_CACHE=$1 DRAVON_ROOTDIR=${3:-$dir} ${3:-$dir}/bin64/brumlet $2 ${4-$tool_args}"; }
    # Every run's output and status beside plain java's: the run that lists
    # the classes, the one that starts the archive's making, the runs with
    # the young archive in both modes, which list and look at their lists,
    # until it has settled.
    local plain_status=0 status run
    $plain >"$work/plain.out" 2>"$work/plain.err" || plain_status=$?
    for run in "$warm|" "$warm|" "$warm|" "$warm|$inside" "$warm|" "$warm|" "$warm|"; do
        status=0
        $(launcher "${run%%|*}" "${run#*|}") >"$work/run.out" 2>"$work/run.err" || status=$?
        if [ $status -ne $plain_status ] || ! cmp -s "$work/plain.out" "$work/run.out" ||
            ! cmp -s "$work/plain.err" "$work/run.err"; then
            echo "The run '$(launcher "${run%%|*}" "${run#*|}")' differs from plain java's" >&2
            exit 1
        fi
        # The first run leaves the list, kept for the making runs; each
        # later one may have started the making.
        # The key's own list, not the name the JVM wrote it through (KEY.pidN.list).
        if [ -e "$work/list" ]; then
            wait_for_archive "$warm"
        else
            cp "$warm"/brumlet-classes/????????????????.list "$work/list"
        fi
    done
    ls "$warm"/brumlet-classes/*.jsa >/dev/null || { echo "No archive in $warm" >&2; exit 1; }
    ! ls "$warm"/brumlet-classes/*.classes >/dev/null 2>&1 || echo "NOTE: the archive in $warm is still young" >&2
    # "first": a run that finds no archive and lists the classes (the cache
    # emptied before each, not timed). "making": a run that finds a complete
    # list and starts the archive's making, which waits for that run to end.
    # "during": a run while an archive is made beside it (started by an
    # untimed run just before). Each making is awaited before the next command.
    local key
    key=$(basename "$warm"/brumlet-classes/*.jsa .jsa)
    # For reference, the best the cache can do: plain java given its archive.
    cp "$warm/brumlet-classes/$key.jsa" "$work/given.jsa"
    local given
    given=$(plain_java -XX:SharedArchiveFile="$work/given.jsa" -Xlog:cds=off,cds+dynamic=off)
    local put_list="rm -rf $making/brumlet-classes; mkdir -m 700 $making/brumlet-classes; cp $work/list $making/brumlet-classes/$key.list"
    # "restored": the first run after a CI job got the cache and the suite
    # back (a tar round trip of each: new inodes and change times, the same
    # bytes and last writes), in a copy of the suite whose cache was filled
    # by a real first run.
    local copy=$work/suite restored=$work/restored
    cp -a "$dir" "$copy"
    fill_by() { # SUITE CACHE ARGS…: a run of the suite's tool, then the making it started awaited
        $(launcher "$2" "" "$1" "${*:3}") >/dev/null 2>&1 || true
        wait_for_archive "$2"
    }
    for run in 1 2 3 4 5 6; do fill_by "$copy" "$restored" "$tool_args"; done
    ls "$restored"/brumlet-classes/*.jsa >/dev/null || { echo "No archive in $restored" >&2; exit 1; }
    tar -C "$restored" -cf "$work/cache.tar" brumlet-classes
    tar -C "$copy/bin64" -cf "$work/jars.tar" $(cd "$copy/bin64" && ls -- *.jar)
    local restore="rm -rf $restored $copy/bin64/*.jar; mkdir $restored; tar -C $restored -xf $work/cache.tar; tar -C $copy/bin64 -xf $work/jars.tar"
    # "learned": the archive after a trivial first run (the tool's --version)
    # and five real runs, each making awaited.
    local learned=$work/learned
    fill_by "$dir" "$learned" --version
    for run in 1 2 3 4 5; do fill_by "$dir" "$learned" "$tool_args"; done
    # For reference, the JVM's own share of the listing run: plain java
    # given the listing option.
    local listed
    listed=$(plain_java -XX:DumpLoadedClassList="$work/listed.list")
    local names=(java cached-child cached-in-process first-child making-child during-child given restored-child learned-child listed)
    local commands=("$plain" "$(launcher "$warm" "")" "$(launcher "$warm" "$inside")"
        "$(launcher "$first" "")" "$(launcher "$making" "")" "$(launcher "$making" "")" "$given"
        "$(launcher "$restored" "" "$copy")" "$(launcher "$learned" "")" "$listed")
    # Every case but "during" starts with no archive being made.
    local idle="wait_for_archive $warm; wait_for_archive $making; wait_for_archive $learned"
    local prepares=("$idle" "$idle" "$idle" "$idle; rm -rf $first/brumlet-classes"
        "$idle; $put_list" "$idle; $put_list; $(launcher "$making" "") >/dev/null 2>&1 || true" "$idle"
        "$idle; $restore" "$idle" "$idle; rm -f $work/listed.list")
    local entries=() i
    for i in "${!names[@]}"; do
        entries+=(--prepare "bash -c '${prepares[i]}'" -n "${names[i]}" "${commands[i]}")
    done
    in_rounds "$csv" 5 -i --warmup 1 --runs $((count / rounds > 0 ? count / rounds : 1)) -- "${entries[@]}"
    add_row "$label, child launch with an archive in the cache vs. plain \`java\`" cached-child java "$csv" "$goal"
    add_row "$label, in-process launch with an archive in the cache vs. plain \`java\`" cached-in-process java "$csv" "$goal"
    add_row "$label, child launch that finds no archive (lists the classes) vs. plain \`java\`" first-child java "$csv" 1.05
    add_row "$label, child launch that starts the archive's making vs. plain \`java\`" making-child java "$csv" 1.10
    add_row "$label, child launch while the archive is made beside it vs. plain \`java\`" during-child java "$csv" 1.10
    add_row "$label, child launch, first run after the cache and the suite were restored vs. plain \`java\`" restored-child java "$csv" "$restore_goal"
    add_row "$label, child launch after a \`--version\` first run and five real runs vs. an archive of a real first run" learned-child cached-child "$csv" 1.05
    reference_rows+=("$(given_row given "$csv" "$label, plain \`java\` given the cache's archive")"
        "$(given_row listed "$csv" "$label, plain \`java\` given the listing option")")
}
echo "== The class-data cache on checkstyle, JDK 17, against plain java"
tool_suite "$scratch/checkstyle" "$jdk" bench/checkstyle/com/velkor/brumlet/Brumlet.java "${checkstyle_jars[@]}"
cache_rows "checkstyle" "$scratch/checkstyle" "$cache_runs" 0.80 0.82 "$checkstyle_args"
# On a newer JDK the archive also holds the classes linked ahead of time: it
# gains more, and the goals are lower.
for newer in "${newer_homes[@]}"; do
    major=$(sed -n 's/^JAVA_VERSION="\([0-9]*\).*/\1/p' "$newer/release")
    echo "== The class-data cache on checkstyle and javac, JDK $major, against plain java"
    tool_suite "$scratch/checkstyle-$major" "$newer" bench/checkstyle/com/velkor/brumlet/Brumlet.java "${checkstyle_jars[@]}"
    cache_rows "checkstyle, JDK $major" "$scratch/checkstyle-$major" "$newer_cache_runs" 0.72 0.72 "$checkstyle_args"
    tool_suite "$scratch/javac-$major" "$newer" bench/javac/com/velkor/brumlet/Brumlet.java
    cache_rows "javac, JDK $major" "$scratch/javac-$major" "$newer_cache_runs" 0.58 0.50 "$javac_args"
done

echo "== The class-data cache's listing run of a tool of 20,000 classes, JDK 17, against plain java"
# One source of 20,000 small classes and a main that loads them all: the
# run that finds no archive writes all their names.
many=$scratch/many-classes
mkdir -p "$many/src" "$many/classes" "$many/suite/bin64" "$many/cache"
{
    echo 'package com.velkor.brumlet;'
    echo 'public class Brumlet { public static void main(String[] args) throws Exception {'
    echo '    for (int i = 0; i < 20000; i++) Class.forName("com.velkor.brumlet.C" + i); } }'
    seq -f 'class C%g {}' 0 19999
} >"$many/src/Brumlet.java"
javac -J-Xmx2g -d "$many/classes" "$many/src/Brumlet.java"
jar cf "$many/suite/bin64/brumlet.jar" -C "$many/classes" .
cp build/bench/brumlet "$many/suite/bin64/"
ln -s "$jdk" "$many/suite/bin64/jre64"
# "listed": plain java given the listing option by hand, the JVM's own share.
in_rounds "$scratch/many.csv" 5 -i --warmup 1 --runs $((cache_runs / rounds > 0 ? cache_runs / rounds : 1)) -- \
    --prepare true -n java "$jdk/bin/java -cp $many/suite/bin64/brumlet.jar com.velkor.brumlet.Brumlet" \
    --prepare "rm -f $many/listed.list" -n listed \
    "$jdk/bin/java -XX:DumpLoadedClassList=$many/listed.list -cp $many/suite/bin64/brumlet.jar com.velkor.brumlet.Brumlet" \
    --prepare "rm -rf $many/cache/brumlet-classes" -n first-child \
    "env NATIVE_WRAP_CLASS_CACHE=$many/cache DRAVON_ROOTDIR=$many/suite $many/suite/bin64/brumlet"
add_row "20,000 classes, child launch that finds no archive (lists the classes) vs. plain \`java\`" first-child java "$scratch/many.csv" 1.05
reference_rows+=("$(given_row listed "$scratch/many.csv" "20,000 classes, plain \`java\` given the listing option")")

echo "== Dry run with 1,000 jars and 10,000 arguments"
make_suite "$scratch/suite-1000" 1000
args=$(seq -f 'a%g' 10000 | tr '\n' ' ')
DRAVON_ROOTDIR=$scratch/suite-1000 bench "$scratch/dry.csv" "$runs" \
    floor "$trivial $args" launcher "$scratch/suite-1000/bin64/brumlet --wrapper-disable-exec $args"
add_row "dry run, 1,000 jars and 10,000 arguments vs. trivial program with the arguments" \
    launcher floor "$scratch/dry.csv" 1.5

echo "== Scaling in jars and in arguments (dry runs)"
: >"$scratch/jars.dat"
for n in $jar_counts; do
    [ -d "$scratch/suite-$n" ] || make_suite "$scratch/suite-$n" "$n"
    DRAVON_ROOTDIR=$scratch/suite-$n bench "$scratch/jars-$n.csv" "$runs" \
        floor "$trivial" launcher "$scratch/suite-$n/bin64/brumlet --wrapper-disable-exec"
    echo "$n $(median launcher "$scratch/jars-$n.csv") $(median floor "$scratch/jars-$n.csv")" >>"$scratch/jars.dat"
done
# Arguments go through xargs for launcher and floor alike: 100,000 of them
# do not fit into one argument of hyperfine.
max_chars=$(($(getconf ARG_MAX) - 262144))
: >"$scratch/args.dat"
for n in $arg_counts; do
    seq -f 'a%g' "$n" | tr '\n' '\0' >"$scratch/args-$n"
    xargs_cmd="xargs -0 -s $max_chars -a $scratch/args-$n"
    DRAVON_ROOTDIR=$suite bench "$scratch/args-$n.csv" "$runs" \
        floor "$xargs_cmd $trivial" launcher "$xargs_cmd $suite/bin64/brumlet --wrapper-disable-exec"
    echo "$n $(median launcher "$scratch/args-$n.csv") $(median floor "$scratch/args-$n.csv")" >>"$scratch/args.dat"
done
# The cost per item above the floor, between the two largest points.
per_item() {
    awk '{ n[NR] = $1; t[NR] = $2 - $3 }
         END { printf "%.2f", (t[NR] - t[NR-1]) / (n[NR] - n[NR-1]) * 1000 }' "$1"
}
jar_us=$(per_item "$scratch/jars.dat")
arg_us=$(per_item "$scratch/args.dat")

echo "== Peak memory of the launcher before java replaces it"
# Linux keeps a process's peak over an exec, and the static trivial child
# needs less than the launcher: the peak is the launcher's own.
rss_kb=$(NATIVE_WRAP_JRE_DIR_OVERRIDE=$scratch/trivial-jre /usr/bin/time -f %M "$suite/bin64/brumlet" 2>&1 >/dev/null)
rss_mb=$(awk -v k="$rss_kb" 'BEGIN { printf "%.2f", k / 1024 }')
rss_verdict=$(awk -v k="$rss_kb" 'BEGIN { print (k <= 4096) ? "met" : "MISSED" }')

machine="$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB, $(uname -sr)"
java_version=$("$jdk/bin/java" -version 2>&1 | sed -n 2p)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit="$commit with uncommitted changes"
newer_text="none besides it in /usr/lib/jvm"
[ ${#newer_jdks[@]} -eq 0 ] || newer_text=$(printf '%s, ' "${newer_jdks[@]}" | sed 's/, $//')
quick_note=""
[ $quick -eq 0 ] || quick_note=$'\n- **A quick run**: a few runs per case, too few for the figures to mean anything.'
table_rows() { awk '{ printf "| %s | %s | %s |\n", $1, $2, $3 }' "$1"; }
fill_template scripts/bench.md.in \
    WRITTEN="$(date -u '+%Y-%m-%d %H:%M UTC')" COMMIT="$commit" MACHINE="$machine" JDK="$jdk" \
    JAVA_VERSION="$java_version" NEWER_RUNTIMES="$newer_text" QUICK_NOTE="$quick_note" \
    RUNS="$runs" JVM_RUNS="$jvm_runs" CACHE_RUNS="$cache_runs" NEWER_CACHE_RUNS="$newer_cache_runs" \
    WARMUP="$warmup" ROUNDS="$rounds" \
    RESULT_ROWS="$(printf '%s\n' "${rows[@]}")" REFERENCE_ROWS="$(printf '%s\n' "${reference_rows[@]}")" \
    RSS_MB="$rss_mb" RSS_VERDICT="$rss_verdict" \
    JAR_ROWS="$(table_rows "$scratch/jars.dat")" ARG_ROWS="$(table_rows "$scratch/args.dat")" \
    JAR_US="$jar_us" ARG_US="$arg_us" \
    WINE_LAUNCHER="$wine_launcher" WINE_FLOOR="$wine_floor" WINE_RATIO="$wine_ratio" >"$out_dir/BENCHMARKS.md"

gnuplot <<EOF
set terminal pngcairo size 1100,450 font ",10"
set output "$out_dir/bench/scaling.png"
set multiplot layout 1,2 title "brumlet dry run against the trivial program (medians)"
set logscale x
set logscale y
set grid
set key top left
set ylabel "milliseconds"
set xlabel "jars in the launcher's directory"
plot "$scratch/jars.dat" using 1:2 with linespoints title "launcher", \
     "$scratch/jars.dat" using 1:3 with linespoints title "trivial program (floor)"
set xlabel "arguments"
plot "$scratch/args.dat" using 1:2 with linespoints title "launcher", \
     "$scratch/args.dat" using 1:3 with linespoints title "trivial program (floor)"
unset multiplot
EOF

cat "$out_dir/BENCHMARKS.md"
echo "== Wrote $out_dir/BENCHMARKS.md and $out_dir/bench/scaling.png"
