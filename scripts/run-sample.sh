#!/usr/bin/env bash
# Builds the Linux launcher, lays out a sample installation in a scratch
# directory and runs the launcher there, as a user of the suite would:
#
#   ROOT/bin64/brumlet            the launcher
#   ROOT/bin64/sample-tool.jar    a sample tool (examples/sample-tool)
#   ROOT/bin64/jre64              the suite's Java runtime (here: this machine's JDK)
#
# Arguments given to this script go to the tool; without any, a few samples.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
. scripts/packages.sh

ensure_packages cmake make g++ openjdk-17-jdk-headless

cmake -S . -B build/sample -DBRUMLET_TESTS=OFF >/dev/null
cmake --build build/sample -j2 >/dev/null

scratch=$(mktemp -d /tmp/brumlet-sample.XXXXXX)
root=$scratch/Suite
mkdir -p "$root/bin64" "$scratch/classes"
javac -d "$scratch/classes" examples/sample-tool/com/velkor/brumlet/Brumlet.java
jar cf "$root/bin64/sample-tool.jar" -C "$scratch/classes" .
cp build/sample/brumlet "$root/bin64/brumlet"
jdk=$(dirname "$(dirname "$(readlink -f "$(command -v java)")")")
ln -s "$jdk" "$root/bin64/jre64"

if [ $# -eq 0 ]; then
    set -- --wrapper-verbose hello "two words" 'C:\dir\' 'say "hi"' --jvm-max-heap-size=256m --exit=3
fi
echo "== DRAVON_ROOTDIR=$root"
printf '== %s' "$root/bin64/brumlet"; printf ' %q' "$@"; echo
status=0
DRAVON_ROOTDIR=$root "$root/bin64/brumlet" "$@" || status=$?
echo "== exit status: $status"
rm -rf "$scratch"
