#!/usr/bin/env bash
# bench/run.sh: the psex benchmark in one command.
#
# Builds psex and the benchmark programs in Release (build folder
# build-bench/, separate from the test build), writes synthetic data files
# into a scratch folder, runs psex on each under /usr/bin/time -v (wall time
# and peak resident memory), measures the random-stream floor for the same
# number of draws, and prints a Markdown table with the targets.
#
# See bench/README.md for what each case measures.  Run with --help for the
# options.

set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build-bench"
SCRATCH=""
PSEX=""
QUICK=0
TIMEOUT=1800
FLOOR_REPEATS=3
PSEX_REPEATS=3
CASES="large,lowdiv,snp,scaling,bigclone,memory"

usage() {
    cat <<'EOF'
usage: bench/run.sh [options]
  --quick              smoke test: every case with N divided by 20
  --psex PATH          time this psex binary instead of the one built here
                       (the table-building time of the big-clone case always
                       comes from this tree's library)
  --cases LIST         comma-separated subset of
                       large,lowdiv,snp,scaling,bigclone,memory (default: all)
  --timeout SECONDS    stop a psex run after this long and record it as not
                       finished; 0 for no limit (default 1800)
  --floor-repeats R    time the floor R times and keep the best (default 3)
  --repeats R          run psex R times on each case and keep the best (default 3)
  --build DIR          build folder (default build-bench)
  --scratch DIR        folder for data files and runs (default BUILD/scratch)
EOF
}

die() {
    echo "bench/run.sh: $*" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
    --quick) QUICK=1 ;;
    --psex) [ $# -ge 2 ] || die "--psex needs a path"; PSEX=$2; shift ;;
    --cases) [ $# -ge 2 ] || die "--cases needs a list"; CASES=$2; shift ;;
    --timeout) [ $# -ge 2 ] || die "--timeout needs seconds"; TIMEOUT=$2; shift ;;
    --floor-repeats) [ $# -ge 2 ] || die "--floor-repeats needs a count"; FLOOR_REPEATS=$2; shift ;;
    --repeats) [ $# -ge 2 ] || die "--repeats needs a count"; PSEX_REPEATS=$2; shift ;;
    --build) [ $# -ge 2 ] || die "--build needs a folder"; BUILD=$2; shift ;;
    --scratch) [ $# -ge 2 ] || die "--scratch needs a folder"; SCRATCH=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; die "unknown option '$1'" ;;
    esac
    shift
done

[[ "$TIMEOUT" =~ ^[0-9]+$ ]] || die "--timeout must be a whole number of seconds"
[[ "$FLOOR_REPEATS" =~ ^[1-9][0-9]*$ ]] || die "--floor-repeats must be a positive count"
[[ "$PSEX_REPEATS" =~ ^[1-9][0-9]*$ ]] || die "--repeats must be a positive count"
for c in ${CASES//,/ }; do
    case "$c" in
    large | lowdiv | snp | scaling | bigclone | memory) ;;
    *) die "unknown case '$c'" ;;
    esac
done
wants() { [[ ",$CASES," == *",$1,"* ]]; }

[ -x /usr/bin/time ] || die "/usr/bin/time is missing (Debian package 'time')"
for tool in cmake ninja; do
    command -v "$tool" >/dev/null || die "$tool is missing: run 'make deps' first"
done

# ---- build --------------------------------------------------------------

log() { echo "bench: $*" >&2; }

log "building in $BUILD (Release)"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPSEX_BENCH=ON \
    -DPSEX_TESTS=OFF >"$BUILD.configure.log" 2>&1 ||
    { cat "$BUILD.configure.log" >&2; die "configuration failed"; }
cmake --build "$BUILD" >"$BUILD.build.log" 2>&1 ||
    { cat "$BUILD.build.log" >&2; die "build failed"; }
rm -f "$BUILD.configure.log" "$BUILD.build.log"

DATAGEN="$BUILD/bench/psex-datagen"
FLOOR="$BUILD/bench/psex-floor"
TABLEBENCH="$BUILD/bench/psex-tablebench"
[ -n "$PSEX" ] || PSEX="$BUILD/psex"
[ -x "$PSEX" ] || die "no executable psex at '$PSEX'"
PSEX=$(cd "$(dirname "$PSEX")" && pwd)/$(basename "$PSEX")

[ -n "$SCRATCH" ] || SCRATCH="$BUILD/scratch"
# Only what this script itself writes is removed: the scratch folder may be
# one the user named.
mkdir -p "$SCRATCH"
rm -rf "$SCRATCH/data" "$SCRATCH/runs" "$SCRATCH/results.md"
mkdir -p "$SCRATCH/data" "$SCRATCH/runs"
SCRATCH=$(cd "$SCRATCH" && pwd)

# ---- the data sets --------------------------------------------------------
# One line per run: id, samples, loci, ploidy, alleles, allele spread,
# simulations, planted clone, seed.  The quick subset divides N (and the
# planted clone) by 20.  Runs of one family share the seed, so their loci and
# allele frequencies are the same; large_sim100 differs from large in the
# header alone.

scale() { if [ "$QUICK" = 1 ]; then echo $(($1 / 20)); else echo "$1"; fi; }

declare -A N L P A SPREAD SIMS CLONE SEED
define() {
    N[$1]=$(scale "$2"); L[$1]=$3; P[$1]=$4; A[$1]=$5; SPREAD[$1]=$6; SIMS[$1]=$7
    CLONE[$1]=$(scale "$8"); SEED[$1]=$9
}
define large 20000 20 2 12 3 1000 0 1
define large10k 10000 20 2 12 3 1000 0 1
define large40k 40000 20 2 12 3 1000 0 1
define large_sim100 20000 20 2 12 3 100 0 1
define lowdiv 20000 3 2 2 0 1000 0 2
define snp 5000 500 1 2 0 200 0 3
define bigclone 20000 20 2 12 3 1 5000 4

RUNS=()
addRun() { [[ " ${RUNS[*]-} " == *" $1 "* ]] || RUNS+=("$1"); }
wants large && addRun large
wants lowdiv && addRun lowdiv
wants snp && addRun snp
wants scaling && { addRun large10k; addRun large; addRun large40k; }
wants bigclone && addRun bigclone
wants memory && { addRun large_sim100; addRun large; }

for id in "${RUNS[@]}"; do
    log "generating $id: N=${N[$id]} L=${L[$id]} ploidy=${P[$id]}"
    "$DATAGEN" --samples "${N[$id]}" --loci "${L[$id]}" --ploidy "${P[$id]}" \
        --alleles "${A[$id]}" --allele-spread "${SPREAD[$id]}" \
        --simulations "${SIMS[$id]}" --plant-clone "${CLONE[$id]}" \
        --seed "${SEED[$id]}" --title "$id" --output "$SCRATCH/data/$id.txt" \
        2>"$SCRATCH/data/$id.summary"
done

# ---- measuring ------------------------------------------------------------

declare -A WALL CPU SHARE RSS STATUS FLOORS FLOOR_CPUS DRAWS CHECKSUM FLOOR_BY_DRAWS

# Seconds from the "Elapsed (wall clock)" line of a time -v report.
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
cpuShare() { awk -F': ' '/Percent of CPU this job got/ { print $2 }' "$1"; }

# Set FLOORS and FLOOR_CPUS of a run: wall and processor seconds of the
# floor for its number of draws, measured once per count.
measureFloor() {
    local id=$1 draws=${DRAWS[$1]}
    if [ -z "${FLOOR_BY_DRAWS[$draws]-}" ]; then
        FLOOR_BY_DRAWS[$draws]=$("$FLOOR" "$draws" "$FLOOR_REPEATS" |
            sed -n 's/.*best_seconds=\([0-9.]*\) cpu_seconds=\([0-9.]*\).*/\1 \2/p')
    fi
    read -r "FLOORS[$id]" "FLOOR_CPUS[$id]" <<<"${FLOOR_BY_DRAWS[$draws]}"
}

runPsex() {
    local id=$1 dir="$SCRATCH/runs/$1" status=0
    mkdir -p "$dir"
    local limit=()
    [ "$TIMEOUT" = 0 ] || limit=(timeout "$TIMEOUT")
    log "running psex on $id (SIMULATIONS=${SIMS[$id]}, best of $PSEX_REPEATS)"
    # The data file is named by a relative path: the result files repeat it,
    # and their checksums must not depend on where the scratch folder is.
    # Of several runs the fastest is kept: slower ones only met other work.
    local repeat best=""
    for ((repeat = 0; repeat < PSEX_REPEATS; ++repeat)); do
        status=0
        (cd "$dir" && /usr/bin/time -v -o "$dir/time-run.txt" "${limit[@]}" "$PSEX" \
            "../../data/$id.txt" >"$dir/stdout" 2>"$dir/stderr") || status=$?
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
    RSS[$id]=$(maxRssKb "$dir/time.txt")
    CPU[$id]=$(cpuSeconds "$dir/time.txt")
    SHARE[$id]=$(cpuShare "$dir/time.txt")
    if [ "$status" = 124 ] && [ "$TIMEOUT" != 0 ]; then
        STATUS[$id]=dnf
    elif [ "$status" != 0 ]; then
        STATUS[$id]="exit $status"
        log "psex failed on $id (status $status); see $dir"
    else
        STATUS[$id]=ok
        [ -s "$dir/stderr" ] && log "psex wrote to standard error on $id; see $dir/stderr"
        CHECKSUM[$id]=$(cat "$dir/simresults_$id.csv" "$dir/fulltable_$id.csv" |
            sha256sum | cut -c1-16)
    fi
}

for id in "${RUNS[@]}"; do
    DRAWS[$id]=$((SIMS[$id] * N[$id] * L[$id] * P[$id]))
    log "floor for $id: ${DRAWS[$id]} draws"
    measureFloor "$id"
    runPsex "$id"
done

TABLE_LINE=""
if wants bigclone; then
    log "timing the table of bigclone alone (psex-tablebench, best of 3)"
    TABLE_LINE=$("$TABLEBENCH" "$SCRATCH/data/bigclone.txt" 3)
fi

# ---- the report ------------------------------------------------------------
# Ratios and verdicts use wall time, as a user sees it.  With a second core
# psex draws its random numbers on one thread and uses them on another, so
# its processor time is up to twice its wall time and its CPU share up to
# 200 %; a share below 90 % says that other programs were competing.

calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
mb() { if [ -n "${1-}" ]; then calc "$1 / 1024"; else echo "-"; fi; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo ok; else echo MISSED; fi; }
busy() { [ "${SHARE[$1]%\%}" -lt 90 ] 2>/dev/null && echo " (busy machine)" || true; }

wallCell() {
    case "${STATUS[$1]}" in
    ok) echo "${WALL[$1]}" ;;
    dnf) echo "did not finish in $TIMEOUT" ;;
    *) echo "failed (${STATUS[$1]})" ;;
    esac
}
ratioCells() {
    case "${STATUS[$1]}" in
    ok) echo "$(calc "${WALL[$1]} / ${FLOORS[$1]}") | $(calc "${CPU[$1]} / ${FLOOR_CPUS[$1]}")" ;;
    dnf) echo "> $(calc "$TIMEOUT / ${FLOORS[$1]}") | > $(calc "${CPU[$1]} / ${FLOOR_CPUS[$1]}")" ;;
    *) echo "- | -" ;;
    esac
}
ratioVerdict() {
    case "${STATUS[$1]}" in
    ok) echo "$(verdict "${WALL[$1]} / ${FLOORS[$1]} <= $2")$(busy "$1")" ;;
    dnf) echo MISSED ;;
    *) echo "-" ;;
    esac
}

row() {
    local label=$1 id=$2 target=${3-} outcome=${4-}
    echo "| $label | ${N[$id]} | ${L[$id]} | ${P[$id]} | ${SIMS[$id]} | $(wallCell "$id") |" \
        "${CPU[$id]} | ${SHARE[$id]} | ${FLOORS[$id]} | ${FLOOR_CPUS[$id]} | $(ratioCells "$id") |" \
        "$(mb "${RSS[$id]}") | $target | $outcome |"
}
# A row without run columns: label, value in the wall column, memory, target, verdict.
note() { echo "| $1 | | | | | $2 | | | | | | | $3 | $4 | $5 |"; }

scalingRow() {
    local small=$1 large=$2
    local label="scaling, time N=${N[$large]} / N=${N[$small]}"
    if [ "${STATUS[$small]}" = ok ] && [ "${STATUS[$large]}" = ok ]; then
        local r
        r=$(calc "${WALL[$large]} / ${WALL[$small]}")
        note "$label" "$r" "" "<= 2.2" "$(verdict "$r <= 2.2")"
    else
        note "$label" "-" "" "<= 2.2" "MISSED"
    fi
}

report() {
    local compiler id
    compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
    echo "psex benchmark$([ "$QUICK" = 1 ] && echo ", QUICK subset (N / 20): targets are for the full sizes")"
    echo
    echo "- machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores," \
        "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
    echo "- compiler: $("$compiler" --version | head -1)"
    echo "- psex: $PSEX"
    echo "- tree: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)," \
        "$(date -u +%Y-%m-%d)"
    echo "- seconds and MB; wall, CPU (user + system) and CPU share from /usr/bin/time -v;" \
        "psex: best of $PSEX_REPEATS runs; floor: best of $FLOOR_REPEATS"
    echo
    echo "| case | N | L | ploidy | SIMULATIONS | wall | CPU | CPU share | floor | floor CPU |" \
        "ratio | ratio CPU | peak RSS | target | verdict |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    if wants large; then
        row large large "<= 2.0 x floor" "$(ratioVerdict large 2.0)"
        note "large, memory" "" "$(mb "${RSS[large]}")" "< 256 MB" \
            "$(verdict "${RSS[large]} < 256 * 1024")"
    fi
    if wants lowdiv; then
        row "low diversity" lowdiv "<= 4 x floor" "$(ratioVerdict lowdiv 4)"
    fi
    if wants snp; then
        row "SNP panel" snp "<= 1.5 x floor" "$(ratioVerdict snp 1.5)"
    fi
    if wants scaling; then
        for id in large10k large large40k; do
            row scaling "$id"
        done
        scalingRow large10k large
        scalingRow large large40k
    fi
    if wants bigclone; then
        row "big clone, whole run" bigclone
        local seconds
        seconds=$(sed -n 's/.*best_seconds=\([0-9.]*\).*/\1/p' <<<"$TABLE_LINE")
        note "big clone, table alone (N=${N[bigclone]}, clone ${CLONE[bigclone]})" "$seconds" "" \
            "< 1 s" "$(verdict "$seconds < 1")"
    fi
    if wants memory; then
        row memory large_sim100
        row memory large
        local grows=MISSED
        if [ "${STATUS[large]}" = ok ] && [ "${STATUS[large_sim100]}" = ok ]; then
            grows=$(verdict "${RSS[large]} <= 1.1 * ${RSS[large_sim100]}")
        fi
        note "memory, 1000 vs 100 simulations" "" \
            "$(mb "${RSS[large]}") vs $(mb "${RSS[large_sim100]}")" "no growth (10 %)" "$grows"
    fi
    echo
    echo "Data sets (psex-datagen):"
    for id in "${RUNS[@]}"; do
        echo "- $id: $(sed 's/^psex-datagen: //' "$SCRATCH/data/$id.summary")"
    done
    if [ -n "$TABLE_LINE" ]; then
        echo "- bigclone table (psex-tablebench): $TABLE_LINE"
    fi
    echo
    echo "Result checksums (equal for two builds: byte-identical result files):"
    for id in "${RUNS[@]}"; do
        echo "- $id: ${CHECKSUM[$id]-none (${STATUS[$id]})}"
    done
}

report | tee "$SCRATCH/results.md"
log "report saved in $SCRATCH/results.md; runs in $SCRATCH/runs"
