#!/usr/bin/env bash
# bench/run.sh: the psex benchmark in one command.
#
# Builds psex and the benchmark programs in Release (build folder
# build-bench/, separate from the test build), writes synthetic data files
# into a scratch folder, and for every case measures in the same run: the
# random-stream floor from Boost's generator and from the program's own for
# the case's number of draws, and psex itself under /usr/bin/time -v (wall
# time, processor time, peak resident memory) with one thread and with all
# cores.  It prints a Markdown table with the targets and the checksums of
# the result files.
#
# See bench/README.md for what each case measures.  Run with --help for the
# options.

set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build-bench"
SCRATCH=""
PSEX=""
REFERENCE=""
QUICK=0
TIMEOUT=1800
FLOOR_REPEATS=3
PSEX_REPEATS=3
CASES="large,snp,lowdiv,manyalleles,bigclone,memory,lineages,lineages100k,snplineages,manyloci,manysamples,linkage,spatial,locicurve"

usage() {
    cat <<'EOF'
usage: bench/run.sh [options]
  --quick              smoke test: every case with N divided by 20
  --psex PATH          time this psex binary instead of the one built here
  --reference PATH     also run this psex binary (an older build) once per
                       case and check that its result files are identical
  --cases LIST         comma-separated subset of
                       large,snp,lowdiv,manyalleles,bigclone,memory,lineages,
                       lineages100k,snplineages,manyloci,manysamples,
                       linkage,spatial,locicurve (default: all)
  --timeout SECONDS    stop a psex run after this long and record it as not
                       finished; 0 for no limit (default 1800)
  --floor-repeats R    time each floor R times and keep the best (default 3)
  --repeats R          run psex R times per thread count and keep the best
                       (default 3)
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
    --reference) [ $# -ge 2 ] || die "--reference needs a path"; REFERENCE=$2; shift ;;
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
    large | snp | lowdiv | manyalleles | bigclone | memory | lineages | lineages100k | snplineages | \
        manyloci | manysamples | linkage | spatial | locicurve) ;;
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
PAIRBENCH="$BUILD/bench/psex-pairbench"
[ -n "$PSEX" ] || PSEX="$BUILD/psex"
[ -x "$PSEX" ] || die "no executable psex at '$PSEX'"
PSEX=$(cd "$(dirname "$PSEX")" && pwd)/$(basename "$PSEX")
if [ -n "$REFERENCE" ]; then
    [ -x "$REFERENCE" ] || die "no executable reference psex at '$REFERENCE'"
    REFERENCE=$(cd "$(dirname "$REFERENCE")" && pwd)/$(basename "$REFERENCE")
fi
CORES=$(nproc)

[ -n "$SCRATCH" ] || SCRATCH="$BUILD/scratch"
# Only what this script itself writes is removed: the scratch folder may be
# one the user named.
mkdir -p "$SCRATCH"
rm -rf "$SCRATCH/data" "$SCRATCH/runs" "$SCRATCH/results.md"
mkdir -p "$SCRATCH/data" "$SCRATCH/runs"
SCRATCH=$(cd "$SCRATCH" && pwd)

# ---- the data sets --------------------------------------------------------
# One line per data set: id, samples, loci, ploidy, alleles, allele spread,
# simulations, planted clone, seed, clone-size exponent.  The quick subset
# divides N (and the planted clone) by 20.  large_sim100 differs from large
# in its header alone.  The many-alleles set has clones of nearly one sample
# each (exponent 8) and 40,000 possible alleles at its one locus, of which
# about 20,000 occur: sample names pasted into an allele column look so.

scale() { if [ "$QUICK" = 1 ] && [ "$1" -ge 20 ]; then echo $(($1 / 20)); else echo "$1"; fi; }

declare -A N L P A SPREAD SIMS CLONE SEED EXPONENT
define() {
    N[$1]=$(scale "$2"); L[$1]=$3; P[$1]=$4; A[$1]=$5; SPREAD[$1]=$6; SIMS[$1]=$7
    CLONE[$1]=$(scale "$8"); SEED[$1]=$9; EXPONENT[$1]=${10}
}
define large 20000 20 2 12 3 1000 0 1 2.5
define large_sim100 20000 20 2 12 3 100 0 1 2.5
define snp 2000 5000 2 2 0 100 0 3 2.5
define lowdiv 20000 3 2 2 0 1000 0 2 2.5
define manyalleles 20000 1 2 40000 0 1 0 5 8
define bigclone 20000 20 2 12 3 1 5000 4 2.5
# Lineages: nearly 20,000 distinct genotypes (clone exponent 20: hardly a
# clone), every pair of them compared (MLLDISTANCE=2 is added to the header).
define lineages 20000 20 2 12 3 1 0 6 20
# Lineages at scale: 100,000 distinct genotypes of the same kind (5 x 10^9
# pairs), and a SNP panel of 2,000 distinct genotypes at 5,000 biallelic
# loci; MLLDISTANCE=2 is added to both headers.
define lineages100k 100000 20 2 12 3 1 0 9 20
define snplineages 2000 5000 2 2 0 1 0 10 20
# Memory in proportion to the file: 500,000 loci of two samples (about
# 22 MB), and 10^6 samples at 5 loci (about 49 MB).  Their peak memory must
# stay within four times the file plus 64 MB.  (The quick subset divides
# only N: the loci case keeps its 500,000 loci and its two samples.)
define manyloci 2 500000 2 12 3 10 0 7 2.5
define manysamples 1000000 5 2 12 3 10 0 8 2.5
# The index of association: 1,000 samples of a clonal population at 20
# loci, with LINKAGE=999 added to the header (999 permutations of each of
# the two sets, all samples and clone-corrected).
define linkage 1000 20 2 12 3 1 0 11 2.5
# Where the clones are: 3,000 and 20,000 located samples at 10 diploid loci
# on a grid of half-metre steps (many ties), with COORDINATES, SPATIAL=999
# and MLLDISTANCE=1 added: subranges, the aggregation index with 999
# permutations for MLGs and MLLs, and the kinship by distance of every pair
# (20,000 is the most located samples it is computed for).
define spatial 3000 10 2 12 3 1 0 12 2.5
define spatial20k 20000 10 2 12 3 1 0 13 2.5
# The locus accumulation curve, LOCICURVE=1000 added to the headers: the SNP
# panel (2,000 samples at 5,000 biallelic loci: about 5 x 10^6 subsets) and
# 1,000 samples of a clonal population at 20 microsatellite loci.
define curvesnp 2000 5000 2 2 0 1 0 3 2.5
define curvemsat 1000 20 2 12 3 1 0 12 2.5

SETS=()
addSet() { [[ " ${SETS[*]-} " == *" $1 "* ]] || SETS+=("$1"); }
wants large && addSet large
wants snp && addSet snp
wants lowdiv && addSet lowdiv
wants manyalleles && addSet manyalleles
wants bigclone && addSet bigclone
wants lineages && addSet lineages
wants lineages100k && addSet lineages100k
wants snplineages && addSet snplineages
wants manyloci && addSet manyloci
wants manysamples && addSet manysamples
wants linkage && addSet linkage
wants locicurve && { addSet curvesnp; addSet curvemsat; }
wants memory && { addSet large_sim100; addSet large; }
wants spatial && { addSet spatial; addSet spatial20k; }

for id in "${SETS[@]}"; do
    log "generating $id: N=${N[$id]} L=${L[$id]} ploidy=${P[$id]}"
    "$DATAGEN" --samples "${N[$id]}" --loci "${L[$id]}" --ploidy "${P[$id]}" \
        --alleles "${A[$id]}" --allele-spread "${SPREAD[$id]}" \
        --simulations "${SIMS[$id]}" --plant-clone "${CLONE[$id]}" \
        --seed "${SEED[$id]}" --clone-exponent "${EXPONENT[$id]}" --title "$id" \
        --output "$SCRATCH/data/$id.txt" \
        2>"$SCRATCH/data/$id.summary"
done
for id in lineages lineages100k snplineages; do
    if wants "$id"; then
        sed -i "s/^TITLE=$id\$/TITLE=$id\nMLLDISTANCE=2/" "$SCRATCH/data/$id.txt"
    fi
done
if wants linkage; then
    sed -i "s/^TITLE=linkage\$/TITLE=linkage\nLINKAGE=999/" "$SCRATCH/data/linkage.txt"
fi
if wants locicurve; then
    for id in curvesnp curvemsat; do
        sed -i "s/^TITLE=$id\$/TITLE=$id\nLOCICURVE=1000/" "$SCRATCH/data/$id.txt"
    done
fi

# Coordinates for the spatial sets: sample i at grid point k = 7919 i mod
# side^2 of a square grid of 0.5 m steps, side = 1.2 sqrt(N) points.
for id in spatial spatial20k; do
    wants spatial || continue
    awk -v n="${N[$id]}" '
        BEGIN { side = int(1.2 * sqrt(n)) + 1; part = 0 }
        part == 0 && /^TITLE=/ { print; print "COORDINATES=x,y\nSPATIAL=999\nMLLDISTANCE=1"; next }
        part == 0 && /^$/ { part = 1; print; next }
        part == 1 { print $0 ",x,y"; part = 2; i = 0; next }
        part == 2 && NF > 0 {
            k = (i * 7919) % (side * side); i++
            printf "%s,%.1f,%.1f\n", $0, (k % side) * 0.5, int(k / side) * 0.5; next }
        { print }' "$SCRATCH/data/$id.txt" >"$SCRATCH/data/$id.tmp"
    mv "$SCRATCH/data/$id.tmp" "$SCRATCH/data/$id.txt"
done

# ---- measuring ------------------------------------------------------------

# Per data set: DRAWS, the floors (wall and CPU, Boost's and the own
# generator's).  Per run (data set and thread count "1" or "all"): WALL, CPU,
# RSS, STATUS, CHECKSUM.
declare -A DRAWS FLOOR_WALL FLOOR_CPU OWN_WALL OWN_CPU SAME_STREAM JUMP40 JUMP63
declare -A WALL CPU RSS STATUS CHECKSUM REFERENCE_CHECKSUM

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
field() { sed -n "s/.*[ ^]$1=\([^ ]*\).*/\1/p" <<<" $2"; }

measureFloor() {
    local id=$1 line
    line=$("$FLOOR" "${DRAWS[$id]}" "$FLOOR_REPEATS") || true
    FLOOR_WALL[$id]=$(field best_seconds "$line")
    FLOOR_CPU[$id]=$(field cpu_seconds "$line")
    OWN_WALL[$id]=$(field own_best_seconds "$line")
    OWN_CPU[$id]=$(field own_cpu_seconds "$line")
    SAME_STREAM[$id]=$(field same_stream "$line")
    JUMP40[$id]=$(field jump_ms_2_40 "$line")
    JUMP63[$id]=$(field jump_ms_2_63 "$line")
}

# The simulation results and the full table; with lineages also the
# per-sample table (its mll column) and the distances.
checksumOf() {
    local files=("$1/simresults_$2.csv" "$1/fulltable_$2.csv")
    [ ! -f "$1/distances_$2.csv" ] || files+=("$1/samples_$2.csv" "$1/distances_$2.csv")
    [ ! -f "$1/linkage_$2.csv" ] || files+=("$1/linkage_$2.csv")
    [ ! -f "$1/spatial_$2.csv" ] || files+=("$1/summary_$2.csv" "$1/spatial_$2.csv")
    [ ! -f "$1/kinship_$2.csv" ] || files+=("$1/kinship_$2.csv")
    [ ! -f "$1/loci_$2.csv" ] || files+=("$1/loci_$2.csv")
    cat "${files[@]}" | sha256sum | cut -c1-16
}

# Run psex on data set $1 with PSEX_THREADS=$2 ("all": unset), best of
# PSEX_REPEATS by wall time.
runPsex() {
    local id=$1 threads=$2 run="$1/$2" dir="$SCRATCH/runs/$1-$2" status=0
    mkdir -p "$dir"
    local limit=()
    [ "$TIMEOUT" = 0 ] || limit=(timeout "$TIMEOUT")
    local environment=(env -u PSEX_THREADS)
    [ "$threads" = all ] || environment=(env PSEX_THREADS="$threads")
    log "running psex on $id with $threads thread(s), best of $PSEX_REPEATS"
    # The data file is named by a relative path: the result files repeat it,
    # and their checksums must not depend on where the scratch folder is.
    local repeat best=""
    for ((repeat = 0; repeat < PSEX_REPEATS; ++repeat)); do
        status=0
        (cd "$dir" && "${environment[@]}" /usr/bin/time -v -o "$dir/time-run.txt" \
            "${limit[@]}" "$PSEX" "../../data/$id.txt" >"$dir/stdout" 2>"$dir/stderr") ||
            status=$?
        local wall
        wall=$(elapsedSeconds "$dir/time-run.txt")
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
            mv "$dir/time-run.txt" "$dir/time.txt"
        fi
        [ "$status" = 0 ] || break
    done
    rm -f "$dir/time-run.txt"
    WALL[$run]=$(elapsedSeconds "$dir/time.txt")
    RSS[$run]=$(maxRssKb "$dir/time.txt")
    CPU[$run]=$(cpuSeconds "$dir/time.txt")
    if [ "$status" = 124 ] && [ "$TIMEOUT" != 0 ]; then
        STATUS[$run]=dnf
    elif [ "$status" != 0 ]; then
        STATUS[$run]="exit $status"
        log "psex failed on $id (status $status); see $dir"
    else
        STATUS[$run]=ok
        CHECKSUM[$run]=$(checksumOf "$dir" "$id")
    fi
}

runReference() {
    local id=$1 dir="$SCRATCH/runs/$1-reference"
    mkdir -p "$dir"
    log "running the reference psex on $id"
    if (cd "$dir" && "$REFERENCE" "../../data/$id.txt" >"$dir/stdout" 2>"$dir/stderr"); then
        REFERENCE_CHECKSUM[$id]=$(checksumOf "$dir" "$id")
    else
        REFERENCE_CHECKSUM[$id]="failed"
    fi
}

for id in "${SETS[@]}"; do
    DRAWS[$id]=$((SIMS[$id] * N[$id] * L[$id] * P[$id]))
    log "floors for $id: ${DRAWS[$id]} draws"
    measureFloor "$id"
    runPsex "$id" 1
    runPsex "$id" all
    [ -z "$REFERENCE" ] || runReference "$id"
done

# The all-pairs phase of lineages alone (psex-pairbench, best of 3, all
# cores), on the widest path the processor runs and, if that is another, on
# the portable one.
PAIR_LINES=()
for id in lineages lineages100k snplineages; do
    wants "$id" || continue
    log "timing the all-pairs phase of $id alone (psex-pairbench)"
    line=$("$PAIRBENCH" "$SCRATCH/data/$id.txt" 3 0)
    fastest=$(field path "$line")
    PAIR_LINES+=("$id/$fastest: $line")
    if [ "$fastest" != portable ]; then
        log "timing the all-pairs phase of $id alone on the portable path"
        PAIR_LINES+=("$id/portable: $("$PAIRBENCH" "$SCRATCH/data/$id.txt" 3 0 portable)")
    fi
done

TABLE_LINES=()
for id in bigclone manyalleles; do
    if wants "$id"; then
        log "timing the table and the samplers of $id alone (psex-tablebench, best of 3)"
        TABLE_LINES+=("$id: $("$TABLEBENCH" "$SCRATCH/data/$id.txt" 3)")
    fi
done

# ---- the report ------------------------------------------------------------
# Ratios and verdicts use wall time, as a user sees it, over the wall time
# of Boost's floor for the same draws.

calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
calc3() { awk "BEGIN { printf \"%.3f\", $1 }"; }
mb() { if [ -n "${1-}" ]; then calc "$1 / 1024"; else echo "-"; fi; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo ok; else echo MISSED; fi; }

wallCell() {
    case "${STATUS[$1]}" in
    ok) echo "${WALL[$1]}" ;;
    dnf) echo "did not finish in $TIMEOUT" ;;
    *) echo "failed (${STATUS[$1]})" ;;
    esac
}
ratio() { calc3 "${WALL[$1/$2]} / ${FLOOR_WALL[$1]}"; }

# row LABEL ID THREADS TARGET-RATIO (empty: none)
row() {
    local label=$1 id=$2 threads=$3 target=${4-} run="$2/$3" targetCell="" outcome=""
    local ratioCell="-"
    if [ "${STATUS[$run]}" = ok ]; then
        ratioCell=$(ratio "$id" "$threads")
        if [ -n "$target" ]; then
            targetCell="ratio <= $target"
            outcome=$(verdict "$ratioCell <= $target")
        fi
    elif [ -n "$target" ]; then
        targetCell="ratio <= $target"
        outcome=MISSED
    fi
    local shown=$threads
    [ "$threads" != all ] || shown="all ($CORES)"
    echo "| $label | ${N[$id]} x ${L[$id]} x ${P[$id]}, ${SIMS[$id]} sims | ${DRAWS[$id]} |" \
        "${FLOOR_WALL[$id]} | ${OWN_WALL[$id]} | $shown | $(wallCell "$run") | ${CPU[$run]-} |" \
        "$ratioCell | $(mb "${RSS[$run]-}") | $targetCell | $outcome |"
}
note() { echo "| $1 | | | | | | $2 | | | $3 | $4 | $5 |"; }

report() {
    local compiler id
    compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
    echo "psex benchmark$([ "$QUICK" = 1 ] && echo ", QUICK subset (N / 20): targets are for the full sizes")"
    echo
    echo "- machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $CORES cores," \
        "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
    echo "- compiler: $("$compiler" --version | head -1)"
    echo "- psex: $PSEX"
    echo "- tree: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)," \
        "$(date -u +%Y-%m-%d)"
    echo "- load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- seconds and MB; wall, CPU (user + system) and peak RSS from /usr/bin/time -v;" \
        "psex: best of $PSEX_REPEATS runs per thread count; floors: best of $FLOOR_REPEATS;" \
        "ratio = psex wall / Boost floor wall"
    echo
    echo "| case | data | draws | Boost floor | own floor | threads | wall | CPU | ratio |" \
        "peak RSS | target | verdict |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
    if wants large; then
        row large large 1 0.35
        row large large all 0.20
        if [ "${STATUS[large/1]}" = ok ] && [ "${STATUS[large/all]}" = ok ]; then
            local speedup
            speedup=$(calc "${WALL[large/1]} / ${WALL[large/all]}")
            note "large, 1 thread / all" "$speedup" "" ">= 1.7" "$(verdict "$speedup >= 1.7")"
        fi
    fi
    if wants snp; then
        row "SNP panel" snp 1
        row "SNP panel" snp all 0.25
    fi
    if wants lowdiv; then
        row "low diversity" lowdiv 1
        row "low diversity" lowdiv all
    fi
    if wants manyalleles; then
        row "many alleles" manyalleles 1
        row "many alleles" manyalleles all
        note "many alleles, whole run (1 simulation)" "${WALL[manyalleles/all]-}" "" "< 1 s" \
            "$(verdict "${WALL[manyalleles/all]-99} < 1 && ${WALL[manyalleles/1]-99} < 1")"
    fi
    if wants bigclone; then
        row "big clone" bigclone 1
        row "big clone" bigclone all
    fi
    if wants lineages; then
        row "lineages" lineages 1
        row "lineages" lineages all
        note "lineages, whole run (all pairs of MLGs, 1 simulation)" "${WALL[lineages/all]-}" "" \
            "< 5 s" "$(verdict "${WALL[lineages/all]-99} < 5")"
    fi
    if wants lineages100k; then
        row "lineages, 100,000 MLGs" lineages100k 1
        row "lineages, 100,000 MLGs" lineages100k all
        note "lineages, 100,000 MLGs, whole run (5 x 10^9 pairs, 1 simulation)" \
            "${WALL[lineages100k/all]-}" "" "< 10 s" "$(verdict "${WALL[lineages100k/all]-99} < 10")"
        if wants lineages && [ "${STATUS[lineages/all]-}" = ok ] &&
            [ "${STATUS[lineages100k/all]-}" = ok ]; then
            note "lineages memory, 100,000 vs 20,000 MLGs" "" \
                "$(mb "${RSS[lineages100k/all]}") vs $(mb "${RSS[lineages/all]}")" \
                "linear in G: <= 5 x" \
                "$(verdict "${RSS[lineages100k/all]} <= 5 * ${RSS[lineages/all]}")"
        fi
    fi
    if wants snplineages; then
        row "lineages, SNP panel" snplineages 1
        row "lineages, SNP panel" snplineages all
    fi
    if wants linkage; then
        row "linkage" linkage 1
        row "linkage" linkage all
        note "linkage, whole run (1,000 samples, 20 loci, 999 permutations)" \
            "${WALL[linkage/all]-}" "" "< 10 s" "$(verdict "${WALL[linkage/all]-99} < 10")"
    fi
    if wants spatial; then
        local id threads bytes bound
        for id in spatial spatial20k; do
            row "spatial, ${N[$id]} located" "$id" 1
            row "spatial, ${N[$id]} located" "$id" all
            bytes=$(stat -c %s "$SCRATCH/data/$id.txt")
            bound=$(awk -v b="$bytes" 'BEGIN { printf "%d", (4 * b + 64 * 1048576) / 1024 }')
            for threads in 1 all; do
                if [ "${STATUS[$id/$threads]-}" = ok ]; then
                    note "spatial memory, ${N[$id]} located, $threads thread(s)" "" \
                        "$(mb "${RSS[$id/$threads]}")" "<= 4 x file + 64 MB = $(mb "$bound")" \
                        "$(verdict "${RSS[$id/$threads]} <= $bound")"
                fi
            done
        done
        note "spatial, 20,000 located, whole run (all cores)" "${WALL[spatial20k/all]-}" "" \
            "about a minute" "$(verdict "${WALL[spatial20k/all]-999} < 90")"
    fi
    if wants locicurve; then
        row "locus curve, SNP panel" curvesnp 1
        row "locus curve, SNP panel" curvesnp all
        row "locus curve, 20 loci" curvemsat 1
        row "locus curve, 20 loci" curvemsat all
    fi
    local pair
    for pair in "${PAIR_LINES[@]}"; do
        local which=${pair%%:*} seconds target="" outcome=""
        seconds=$(field best_seconds "$pair")
        # The targets hold for the path a run takes: the widest, listed first.
        if [ "$(field path "$pair")" = "$(field path "${PAIR_LINES[0]}")" ]; then
            case "${which%%/*}" in
            lineages100k) target="< 10 s" outcome=$(verdict "$seconds < 10") ;;
            snplineages) target="< 2 s" outcome=$(verdict "$seconds < 2") ;;
            esac
        fi
        note "all-pairs phase alone, ${which%%/*}, ${which##*/} path ($(field cpu_ns_per_pair "$pair") ns CPU per pair)" \
            "$seconds" "$(field peak_rss_mb "$pair")" "$target" "$outcome"
    done
    if wants memory; then
        row memory large_sim100 1
        row memory large_sim100 all
        local grows=MISSED
        if [ "${STATUS[large/all]-}" = ok ] && [ "${STATUS[large_sim100/all]-}" = ok ]; then
            grows=$(verdict "${RSS[large/all]} <= 1.1 * ${RSS[large_sim100/all]} && \
                ${RSS[large/1]} <= 1.1 * ${RSS[large_sim100/1]}")
        fi
        note "memory, 1000 vs 100 simulations" "" \
            "$(mb "${RSS[large/all]-}") vs $(mb "${RSS[large_sim100/all]-}")" "no growth (10 %)" \
            "$grows"
    fi
    # Peak memory against four times the data file plus a fixed 64 MB.
    local id threads
    for id in manyloci manysamples; do
        wants "$id" || continue
        local bytes bound
        bytes=$(stat -c %s "$SCRATCH/data/$id.txt")
        bound=$(awk -v b="$bytes" 'BEGIN { printf "%d", (4 * b + 64 * 1048576) / 1024 }')
        for threads in 1 all; do
            row "memory, $id" "$id" "$threads"
            if [ "${STATUS[$id/$threads]-}" = ok ]; then
                note "memory, $id ($(calc "$bytes / 1048576") MB file), $threads thread(s)" "" \
                    "$(mb "${RSS[$id/$threads]}")" "<= 4 x file + 64 MB = $(mb "$bound")" \
                    "$(verdict "${RSS[$id/$threads]} <= $bound")"
            fi
        done
    done
    local most=0 run
    for run in "${!RSS[@]}"; do
        [[ "$run" != many* ]] || [ "$run" = manyalleles/1 ] || [ "$run" = manyalleles/all ] ||
            continue # the memory cases have a bound of their own
        [ -z "${RSS[$run]}" ] || [ "${RSS[$run]}" -le "$most" ] || most=${RSS[$run]}
    done
    if [ "$most" -gt 0 ]; then
        note "peak memory, every run" "" "$(mb "$most")" "< 256 MB" "$(verdict "$most < 256 * 1024")"
    fi
    # The jump of the own generator, best over all the floors' repeats.
    local jump40="" jump63=""
    for id in "${SETS[@]}"; do
        if [ -z "$jump40" ] || awk "BEGIN { exit !(${JUMP40[$id]} < $jump40) }"; then
            jump40=${JUMP40[$id]}
        fi
        if [ -z "$jump63" ] || awk "BEGIN { exit !(${JUMP63[$id]} < $jump63) }"; then
            jump63=${JUMP63[$id]}
        fi
    done
    note "own generator, one jump over 2^40 numbers (ms)" "$jump40" "" "well under 1 ms" \
        "$(verdict "$jump40 < 0.5")"
    note "own generator, one jump over 2^63 - 1 numbers (ms)" "$jump63" "" "well under 1 ms" \
        "$(verdict "$jump63 < 0.5")"
    for line in "${TABLE_LINES[@]}"; do
        id=${line%%:*}
        local table sampler
        table=$(field best_seconds "$line")
        sampler=$(field sampler_seconds "$line")
        if [ "$id" = manyalleles ]; then
            note "many alleles, sampler set-up ($(field most_alleles "$line") alleles)" "$sampler" \
                "" "< 0.1 s" "$(verdict "$sampler < 0.1")"
        else
            note "big clone, table alone" "$table" "" "< 1 s" "$(verdict "$table < 1")"
        fi
    done
    echo
    echo "Data sets (psex-datagen):"
    for id in "${SETS[@]}"; do
        echo "- $id: $(sed 's/^psex-datagen: //' "$SCRATCH/data/$id.summary")"
    done
    for line in "${TABLE_LINES[@]}"; do
        echo "- psex-tablebench $line"
    done
    for line in "${PAIR_LINES[@]}"; do
        echo "- psex-pairbench $line"
    done
    echo
    echo "Result checksums (simresults_ and fulltable_ of each run; with lineages also samples_ and distances_;" \
        "with coordinates also summary_, spatial_ and kinship_; with LINKAGE linkage_, with LOCICURVE loci_):"
    echo
    echo "| data set | 1 thread | all cores | same | own floor stream = Boost's |" \
        "$([ -n "$REFERENCE" ] && echo "reference | same as reference |")"
    echo "|---|---|---|---|---|$([ -n "$REFERENCE" ] && echo "---|---|")"
    for id in "${SETS[@]}"; do
        local one=${CHECKSUM[$id/1]-none} all=${CHECKSUM[$id/all]-none} extra=""
        if [ -n "$REFERENCE" ]; then
            extra=" ${REFERENCE_CHECKSUM[$id]} | $([ "$one" = "${REFERENCE_CHECKSUM[$id]}" ] &&
                [ "$all" = "$one" ] && echo yes || echo NO) |"
        fi
        echo "| $id | $one | $all | $([ "$one" = "$all" ] && [ "$one" != none ] && echo yes ||
            echo NO) | ${SAME_STREAM[$id]} |$extra"
    done
}

report | tee "$SCRATCH/results.md"
log "report saved in $SCRATCH/results.md; runs in $SCRATCH/runs"
