#!/usr/bin/env bash
# bench/import.sh: psex-import at scale, in one command.
#
# Builds psex-import and the table generator in Release (the benchmark's
# build folder, build-bench/), writes a table of a million samples in a
# hundred thousand populations as a plain table, a GenAlEx sheet and a
# genepop file, and times psex-import on each under /usr/bin/time -v (wall
# time, processor time, peak resident memory): converting each into one
# data file, and splitting the plain table into one data file per
# population.  It prints a Markdown table with the targets: under 5 s, and
# at most 4 times the input plus 64 MB of memory.
#
# See bench/README.md ("psex-import at scale").  Run with --help for the
# options.

set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build-bench"
SCRATCH=""
SPLIT=""
IMPORT=""
REFERENCE=""
SAMPLES=1000000
POPULATIONS=100000
LOCI=4
REPEATS=3

usage() {
    cat <<'EOF'
usage: bench/import.sh [options]
  --quick              smoke test: 50,000 samples in 5,000 populations
  --import PATH        time this psex-import instead of the one built here
  --reference PATH     also time this psex-import (an older build), once each
  --repeats R          run each conversion R times and keep the best (default 3)
  --build DIR          build folder (default build-bench)
  --scratch DIR        folder for the tables and runs (default BUILD/scratch-import)
  --split-folder DIR   where the split writes its files (default: a folder in
                       /dev/shm when it is there, else in the scratch folder)
EOF
}

die() {
    echo "bench/import.sh: $*" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --quick) SAMPLES=50000; POPULATIONS=5000 ;;
    --import) [ $# -ge 2 ] || die "--import needs a path"; IMPORT=$2; shift ;;
    --reference) [ $# -ge 2 ] || die "--reference needs a path"; REFERENCE=$2; shift ;;
    --repeats) [ $# -ge 2 ] || die "--repeats needs a count"; REPEATS=$2; shift ;;
    --build) [ $# -ge 2 ] || die "--build needs a folder"; BUILD=$2; shift ;;
    --scratch) [ $# -ge 2 ] || die "--scratch needs a folder"; SCRATCH=$2; shift ;;
    --split-folder) [ $# -ge 2 ] || die "--split-folder needs a folder"; SPLIT=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; die "unknown option '$1'" ;;
    esac
    shift
done
[[ "$REPEATS" =~ ^[1-9][0-9]*$ ]] || die "--repeats must be a positive count"
[ -x /usr/bin/time ] || die "/usr/bin/time is missing (Debian package 'time')"

log() { echo "bench: $*" >&2; }

log "building psex-import and psex-importgen in $BUILD (Release)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPSEX_BENCH=ON \
    -DPSEX_TESTS=OFF >"$BUILD.configure.log" 2>&1 ||
    { cat "$BUILD.configure.log" >&2; die "configuration failed"; }
cmake --build "$BUILD" --target psex-import psex-importgen >"$BUILD.build.log" 2>&1 ||
    { cat "$BUILD.build.log" >&2; die "build failed"; }
rm -f "$BUILD.configure.log" "$BUILD.build.log"

GENERATOR="$BUILD/bench/psex-importgen"
[ -n "$IMPORT" ] || IMPORT="$BUILD/psex-import"
[ -x "$IMPORT" ] || die "no executable psex-import at '$IMPORT'"
IMPORT=$(cd "$(dirname "$IMPORT")" && pwd)/$(basename "$IMPORT")
if [ -n "$REFERENCE" ]; then
    [ -x "$REFERENCE" ] || die "no executable reference psex-import at '$REFERENCE'"
    REFERENCE=$(cd "$(dirname "$REFERENCE")" && pwd)/$(basename "$REFERENCE")
fi

[ -n "$SCRATCH" ] || SCRATCH="$BUILD/scratch-import"
mkdir -p "$SCRATCH"
rm -rf "$SCRATCH/data" "$SCRATCH/runs" "$SCRATCH/results.md"
mkdir -p "$SCRATCH/data" "$SCRATCH/runs"
SCRATCH=$(cd "$SCRATCH" && pwd)
# The split writes a hundred thousand files; each is synced to the disk
# before it is renamed into place, which on a real disk costs far more than
# the conversion.  On tmpfs the figures are the program's own.
if [ -z "$SPLIT" ]; then
    if [ -d /dev/shm ] && [ -w /dev/shm ]; then
        SPLIT=$(mktemp -d /dev/shm/psex-import-bench.XXXXXX)
    else
        SPLIT="$SCRATCH/runs/split-files"
    fi
fi
mkdir -p "$SPLIT"
SPLIT=$(cd "$SPLIT" && pwd)
cleanSplit() { find "$SPLIT" -mindepth 1 -delete 2>/dev/null || true; }
trap 'cleanSplit; [[ "$SPLIT" != /dev/shm/psex-import-bench.* ]] || rmdir "$SPLIT"' EXIT

for format in table genalex genepop; do
    extension=csv
    [ "$format" != genepop ] || extension=gen
    log "generating $format: $SAMPLES samples, $LOCI loci, $POPULATIONS populations"
    "$GENERATOR" --samples "$SAMPLES" --loci "$LOCI" --populations "$POPULATIONS" \
        --format "$format" --output "$SCRATCH/data/$format.$extension"
done

elapsedSeconds() {
    awk -F': ' '/Elapsed \(wall clock\)/ {
        n = split($2, part, ":"); s = 0
        for (i = 1; i <= n; ++i) s = s * 60 + part[i]
        printf "%.2f", s }' "$1"
}
maxRssKb() { awk -F': ' '/Maximum resident set size/ { print $2 }' "$1"; }
cpuSeconds() {
    awk -F': ' '/User time \(seconds\)|System time \(seconds\)/ { s += $2 }
        END { printf "%.2f", s }' "$1"
}

declare -A WALL CPU RSS STATUS INPUT
# run ID PROGRAM REPEATS INPUT ARGUMENT...: time the conversion, best of
# REPEATS by wall time, in a folder of its own.
run() {
    local id=$1 program=$2 repeats=$3 input=$4 dir="$SCRATCH/runs/$1" best="" status=0
    shift 4
    mkdir -p "$dir"
    INPUT[$id]=$(stat -c %s "$input")
    log "running $id, best of $repeats"
    for ((repeat = 0; repeat < repeats; ++repeat)); do
        cleanSplit
        status=0
        (cd "$dir" && /usr/bin/time -v -o "$dir/time-run.txt" "$program" "$input" "$@" \
            >"$dir/stdout" 2>"$dir/stderr") || status=$?
        local wall
        wall=$(elapsedSeconds "$dir/time-run.txt")
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
            mv "$dir/time-run.txt" "$dir/time.txt"
        fi
        [ "$status" = 0 ] || break
    done
    rm -f "$dir/time-run.txt"
    WALL[$id]=$(elapsedSeconds "$dir/time.txt")
    CPU[$id]=$(cpuSeconds "$dir/time.txt")
    RSS[$id]=$(maxRssKb "$dir/time.txt")
    STATUS[$id]=$status
    [ "$status" = 0 ] || log "$id failed (status $status); see $dir"
}

IDS=()
measure() {
    local program=$1 repeats=$2 suffix=$3
    run "table-one$suffix" "$program" "$repeats" "$SCRATCH/data/table.csv" -o data.txt
    run "table-split$suffix" "$program" "$repeats" "$SCRATCH/data/table.csv" \
        --split-populations "$SPLIT/meadow-"
    run "genalex-one$suffix" "$program" "$repeats" "$SCRATCH/data/genalex.csv" -o data.txt
    run "genepop-one$suffix" "$program" "$repeats" "$SCRATCH/data/genepop.gen" -o data.txt
    IDS+=("table-one$suffix" "table-split$suffix" "genalex-one$suffix" "genepop-one$suffix")
}
measure "$IMPORT" "$REPEATS" ""
[ -z "$REFERENCE" ] || measure "$REFERENCE" 1 "-reference"

calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo ok; else echo MISSED; fi; }

report() {
    local compiler
    compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
    echo "psex-import at scale: $SAMPLES samples, $LOCI diploid loci, $POPULATIONS populations"
    echo
    echo "- machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
        "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
    echo "- compiler: $("$compiler" --version | head -1)"
    echo "- psex-import: $IMPORT${REFERENCE:+; reference: $REFERENCE}"
    echo "- tree: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)," \
        "$(date -u +%Y-%m-%d)"
    echo "- load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- split files written to: $SPLIT ($(stat -f -c %T "$SPLIT"))"
    echo "- seconds and MB; best of $REPEATS runs (the reference: one run)"
    echo
    echo "| run | input MB | wall | CPU | peak RSS | memory target (4 x input + 64) | wall < 5 s | memory |"
    echo "|---|---|---|---|---|---|---|---|"
    local id
    for id in "${IDS[@]}"; do
        local input limit rss
        input=$(calc "${INPUT[$id]} / 1048576")
        limit=$(calc "4 * $input + 64")
        rss=$(calc "${RSS[$id]} / 1024")
        if [ "${STATUS[$id]}" != 0 ]; then
            echo "| $id | $input | failed (status ${STATUS[$id]}) | | | $limit | MISSED | MISSED |"
            continue
        fi
        echo "| $id | $input | ${WALL[$id]} | ${CPU[$id]} | $rss | $limit |" \
            "$(verdict "${WALL[$id]} < 5") | $(verdict "$rss <= $limit") |"
    done
}

report | tee "$SCRATCH/results.md"
log "report saved in $SCRATCH/results.md; runs in $SCRATCH/runs"
