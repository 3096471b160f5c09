#!/bin/sh
# psex_plot_test.sh: test the picture program psex-plot (written into the build
# folder from tools/psex-plot.R.in).
#
# Usage: psex_plot_test.sh RSCRIPT SCRIPT PSEX CMAKE BUILD_DIR
#
# Draws pictures from hand-written simulation results files (PSex values of
# 0, which a log scale cannot show; no simulated value at all; more
# significant genotypes than get a label) and from files that psex writes (a
# worked example with one repeated genotype, with and without lineages, a
# single sample, and a table without samples), and checks the summary and
# the notes the program prints, which genotypes it labels, and which
# pictures it writes: the distances picture exactly when the run wrote a
# distances file (one left from an earlier run is passed over), the locus
# curve picture exactly when the run wrote a curve file, and the map exactly
# when the run wrote a spatial file and its data file can be read.  Bad input
# must fail with a message and leave no picture.  Then the build is installed into a
# scratch prefix, and the installed psex-plot must run by its own name, with
# its manual page beside psex's.  Last, the command line: --help, -h and
# --version (the version of psex) print and draw nothing, -- ends the
# options, and an unknown option is refused.

set -u
RSCRIPT=$1
SCRIPT=$2
PSEX=$3
CMAKE=$4
BUILD_DIR=$5

# The version of psex, which psex-plot --version must give too.
version=$("$PSEX" --version | sed -n 's/^psex //p')
[ -n "$version" ] || { echo "FAILED: psex --version gives no version"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/psex-plot-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# expect_line FILE LINE: FILE holds LINE as a whole line.
expect_line() {
    grep -qxF -- "$2" "$1" || fail "'$1' lacks the line '$2'"
}

# expect_png FILE: FILE is a non-empty PNG picture.
expect_png() {
    if [ ! -s "$1" ]; then
        fail "no picture '$1'"
        return
    fi
    signature=$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')
    [ "$signature" = "89504e470d0a1a0a" ] || fail "'$1' is not a PNG file ($signature)"
}

# expect_absent FILE: FILE was not written.
expect_absent() {
    [ -e "$1" ] && fail "'$1' was written"
}

# plot NAME CSV: draw the results file CSV into NAME.png, the summary the
# program prints into NAME.out.
plot() {
    "$RSCRIPT" "$SCRIPT" "$2" "$1.png" >"$1.out" 2>"$1.err" ||
        fail "$1: exit status $? ($(cat "$1.err"))"
}

# expect_failure NAME STATUS MESSAGE ARGUMENTS...: the program ends with
# STATUS, MESSAGE on standard error, and no picture NAME.png or
# NAME-distances.png.
expect_failure() {
    name=$1
    expected=$2
    message=$3
    shift 3
    "$RSCRIPT" "$SCRIPT" "$@" >"$name.out" 2>"$name.err"
    status=$?
    [ "$status" = "$expected" ] || fail "$name: exit status $status, expected $expected"
    grep -qF -- "$message" "$name.err" || fail "$name: no message '$message' ($(cat "$name.err"))"
    expect_absent "$name.png"
    expect_absent "$name-distances.png"
}

# run_psex NAME DATA: write DATA (a printf format) to NAME.txt and run psex
# on it.
run_psex() {
    # shellcheck disable=SC2059
    printf "$2" >"$1.txt"
    "$PSEX" "$1.txt" >/dev/null 2>&1 || fail "psex on $1.txt: exit status $?"
}

# results_file MLGLINES PVALUE_LINES VALUES: a simulation results file with
# the given MLG lines, threshold lines and simulated values (one per line),
# for 5 samples and one locus.
results_file() {
    count=$(printf '%s' "$3" | grep -c .)
    cat <<EOF
Datafile,fixture.txt

MLG,n,PSex,Significance,Level,PGen,L1_0,L1_1
$1

,,,,L1,
Number of alleles,,,,3,
He,,,,0.5,
Ho,,,,0.6,
Fis,,,,-0.2,


Clonal Richness
G,3
N,5
R,0.5
Pd,0.6
Single MLGs,1
Clonal MLGs,2

$2

Samplesize,5
PValues,$count


Allele frequencies:
Locus L1
,1,0.2
,2,0.6
,5,0.2


PSex Values:
$3


Specified parameters:
LOCUSCOUNT,1
TITLE,fixture

EOF
}

# 1. Seven simulated values, two of them 0; with M = 7 every threshold is
#    the smallest value (index floor(level x 6) = 0), here 0.  MLG1 (PSex 0)
#    and MLG3 (PSex 1e-09) are seen twice, MLG2 once; no genotype reaches *.
results_file 'MLG1,2,0,0,ns,0,0,5
MLG2,1,"-","-","-",0.25,1,2
MLG3,2,1e-09,0.285714,ns,0.0001,2,2' \
'PValue(0.01),0,significance level,0
PValue(0.05),0,significance level,0
PValue(0.10),0,significance level,0' \
'0,
0,
1e-10,
2e-09,
3e-08,
4e-07,
5e-06,' >fixture.csv
plot fixture fixture.csv
expect_line fixture.out "Run fixture: N = 5 samples, 7 simulated PSex values (2 of them 0)"
expect_line fixture.out "PValue(0.05): threshold 0, realized level 0"
expect_line fixture.out "Genotypes seen more than once: 2"
expect_line fixture.out "  MLG1: n = 2, PSex = 0, ns"
expect_line fixture.out "  MLG3: n = 2, PSex = 1e-09, ns"
expect_line fixture.out "Labelled in the picture (0 of 0 at * or better): none"
expect_line fixture.out "Note: PSex 0, drawn left of the axis break: 2 simulated values, 1 observed MLG."
grep -q "MLG2" fixture.out && fail "the genotype seen once is listed"
grep -q "No simulated repeats" fixture.out && fail "fixture: a note on missing simulations"
expect_png fixture.png
# The file is not named simresults_<run>.csv: no distances file belongs to it.
expect_absent fixture-distances.png

# Without an output name the picture goes beside the input.
rm -f fixture.png
"$RSCRIPT" "$SCRIPT" fixture.csv >/dev/null 2>&1 || fail "default output name: exit status $?"
expect_png fixture.png

# 2. No simulated value at all (PValues,0): every threshold is 1 in the
#    file, but the thresholds are undefined, and the picture and the summary
#    say so.  MLG1 (PSex 0.0004, *** by the file's rule) is still labelled.
results_file 'MLG1,2,0.000404382,0,***,0.0064,1,2
MLG2,1,"-","-","-",0.0004,3,4' \
'PValue(0.01),1,significance level,0
PValue(0.05),1,significance level,0
PValue(0.10),1,significance level,0' '' >nosim.csv
plot nosim nosim.csv
expect_line nosim.out "Run fixture: N = 5 samples, 0 simulated PSex values (0 of them 0)"
expect_line nosim.out "Note: No simulated repeats: thresholds are undefined (so are the codes); raise SIMULATIONS."
expect_line nosim.out "Labelled in the picture (1 of 1 at * or better): MLG1"
expect_png nosim.png

# 3. More genotypes at * or better than get a label.  MLGk (k = 1..30) has
#    PSex 1e-e with e = 7k mod 31, so the exponents are 1..30 in a scrambled
#    order; MLG31 ties with the smallest (1e-30).  Thresholds 1e-07 (0.01)
#    and 1e-05 (0.05): e >= 10 is ***, e = 8, 9 is **, e = 6, 7 is *, e <= 5
#    is ns; 26 genotypes reach * or better.  The 20 with the smallest PSex
#    have e = 30 (MLG22, then MLG31 by MLG number), 29, ..., 12; with
#    k = 9e mod 31 (9 is the inverse of 7 modulo 31) these are, in order,
#    MLG22 MLG31 MLG13 MLG4 MLG26 MLG17 MLG8 MLG30 MLG21 MLG12 MLG3 MLG25
#    MLG16 MLG7 MLG29 MLG20 MLG11 MLG2 MLG24 MLG15.  MLG32, seen once with
#    the smallest PGen, gets no label.
mlgs=$(awk 'BEGIN {
    for (k = 1; k <= 31; k++) {
        e = (k == 31) ? 30 : (7 * k) % 31
        level = e >= 10 ? "***" : e >= 8 ? "**" : e >= 6 ? "*" : "ns"
        printf "MLG%d,2,1e-%d,0,%s,1e-06,1,2\n", k, e, level
    }
    print "MLG32,1,\"-\",\"-\",\"-\",1e-40,5,5"
}')
results_file "$mlgs" \
'PValue(0.01),1e-07,significance level,0.005
PValue(0.05),1e-05,significance level,0.045
PValue(0.10),0.0001,significance level,0.095' \
"$(awk 'BEGIN { for (i = 1; i <= 200; i++) printf "%g,\n", 10^(-7 + 6 * i / 200) }')" >many.csv
plot many many.csv
expect_line many.out "Genotypes seen more than once: 31"
expect_line many.out "Labelled in the picture (20 of 26 at * or better): MLG22, MLG31, MLG13, MLG4, MLG26, MLG17, MLG8, MLG30, MLG21, MLG12, MLG3, MLG25, MLG16, MLG7, MLG29, MLG20, MLG11, MLG2, MLG24, MLG15"
grep -q "^Note: room for" many.out && fail "many: not every label found room"
expect_png many.png

# 4. The worked example through psex: four samples 1/2, 1/2, 1/1, 2/3.
#    Allele frequencies 0.5, 0.375, 0.125; the genotype 1/2 (MLG2, seen
#    twice) has PGen 2 x 0.5 x 0.375 = 0.375 and PSex = 1 - 0.625^4
#    - 4 x 0.375 x 0.625^3 = 0.481201171875.  Without MLLDISTANCE psex
#    writes no distances file, and no distances picture is drawn.
run_psex worked 'PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=L1\nSIMULATIONS=50\nTITLE=worked\n\nSample,a,b\ns1,1,2\ns2,1,2\ns3,1,1\ns4,2,3\n'
plot worked simresults_worked.csv
expect_line worked.out "Genotypes seen more than once: 1"
grep -q "^  MLG2: n = 2, PSex = 0.481201, " worked.out || fail "worked example: MLG2 not listed"
count=$(grep -c '^[0-9].*,$' simresults_worked.csv)
expect_line worked.out "Run worked: N = 4 samples, $count simulated PSex values (0 of them 0)"
expect_png worked.png
expect_absent worked-distances.png
grep -q "^Distances" worked.out && fail "worked example: a distances summary without a distances file"

# 4b. Study-wide levels, from the samples file beside the results.  The
#    planted clone of tests/cases/planted-clone-familywise is 'ns' per
#    repeat but '***' study-wide (p = 3/10001): it is labelled, with its
#    study-wide level.  Ten samples, a genotype seen three times and no
#    simulated repeat (M = 0): no code, no label, study-wide p = 1/6.
cp "$(dirname "$SCRIPT")/../tests/cases/planted-clone-familywise/planted.txt" planted.txt
"$PSEX" planted.txt >/dev/null 2>&1 || fail "psex on planted.txt: exit status $?"
plot planted simresults_planted.csv
expect_line planted.out "  MLG2: n = 2, PSex = 1.98089e-09, ns; study-wide *** (p = 0.00029997)"
expect_line planted.out "Labelled in the picture (1 of 1 at * or better, per repeat or study-wide): MLG2"
expect_png planted.png
run_psex none 'PLOIDY=2\nSIMULATIONS=5\nLOCUSCOUNT=3\nTITLE=none\n\nS,a1,a2,b1,b2,c1,c2\nr1,1,2,1,2,1,2\nr2,1,2,1,2,1,2\nr3,1,2,1,2,1,2\ns1,3,4,3,4,3,4\ns2,5,6,5,6,5,6\ns3,7,8,7,8,7,8\ns4,3,5,4,6,9,10\ns5,4,7,3,8,10,11\ns6,6,8,5,7,11,12\ns7,9,10,9,10,12,13\n'
plot none simresults_none.csv
expect_line none.out "  MLG1: n = 3, PSex = 9.07582e-11, no code; study-wide ns (p = 0.166667)"
expect_line none.out "Labelled in the picture (0 of 0 at * or better, per repeat or study-wide): none"
expect_png none.png
# Without the samples file (an older run) the study-wide levels are missing.
rm samples_none.csv
plot none simresults_none.csv
expect_line none.out "Note: No study-wide levels: no samples file of this run beside the results."

# 5. The same with lineages (MLLDISTANCE=1): psex writes distances_lineages.csv
#    for the three MLGs 1/1, 1/2, 2/3, that is 3 pairs, and the distances
#    picture goes beside the main one, here by the default names.
run_psex lineages 'PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=L1\nSIMULATIONS=50\nMLLDISTANCE=1\nTITLE=lineages\n\nSample,a,b\ns1,1,2\ns2,1,2\ns3,1,1\ns4,2,3\n'
[ -s distances_lineages.csv ] || fail "psex wrote no distances_lineages.csv"
"$RSCRIPT" "$SCRIPT" simresults_lineages.csv >lineages.out 2>lineages.err ||
    fail "lineages: exit status $? ($(cat lineages.err))"
expect_line lineages.out "Wrote simresults_lineages.png"
expect_line lineages.out "Wrote simresults_lineages-distances.png"
grep -q "^Distances from distances_lineages.csv: 3 observed pairs, " lineages.out ||
    fail "lineages: no distances summary with 3 observed pairs"
expect_png simresults_lineages.png
expect_png simresults_lineages-distances.png

# A distances file beside the results of a run without MLLDISTANCE is left
# from an earlier run: passed over, with a note.
cp distances_lineages.csv distances_worked.csv
plot worked simresults_worked.csv
expect_line worked.out "Note: distances_worked.csv passed over: the run had no MLLDISTANCE (left from an earlier run?)"
expect_absent worked-distances.png

# 5b. With LOCICURVE=3 (three loci, every subset listed): psex writes
#    loci_curve.csv, and the curve goes to a picture of its own, with one
#    box per number of loci and G = 4.
run_psex curve 'PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=20\nLOCICURVE=3\nTITLE=curve\n\nS,x,y,z\nA,1,1,1\nB,1,1,2\nC,1,2,2\nD,2,3,1\nA2,1,1,1\n'
[ -s loci_curve.csv ] || fail "psex wrote no loci_curve.csv"
"$RSCRIPT" "$SCRIPT" simresults_curve.csv >curve.out 2>curve.err ||
    fail "curve: exit status $? ($(cat curve.err))"
expect_line curve.out "Locus curve from loci_curve.csv: k = 1 to 3 loci, G = 4"
expect_line curve.out "Wrote simresults_curve-loci.png"
expect_png simresults_curve.png
expect_png simresults_curve-loci.png
expect_absent simresults_curve-distances.png
# Without LOCICURVE a curve file is left from an earlier run: passed over.
cp loci_curve.csv loci_worked.csv
plot worked simresults_worked.csv
expect_line worked.out "Note: loci_worked.csv passed over: the run had no LOCICURVE (left from an earlier run?)"
expect_absent worked-loci.png
grep -q "^Locus curve" worked.out && fail "worked example: a curve summary without its key"
rm loci_worked.csv
# A curve file that psex did not write fails before any picture is drawn.
mkdir -p crooked
cp simresults_curve.csv crooked/simresults_curve.csv
printf 'loci,subsets,mlg_min,mlg_q25,mlg_median,mlg_q75,mlg_max,mlg_mean\n1,3,2,3,2,2.5,3,2.3\n' \
    >crooked/loci_curve.csv
expect_failure crooked/out 1 "unreadable line in 'crooked/loci_curve.csv'" \
    crooked/simresults_curve.csv crooked/out.png
expect_absent crooked/out-loci.png
printf 'loci,mlgs\n1,3\n' >crooked/loci_curve.csv
expect_failure crooked/out 1 "is not a psex locus curve file" \
    crooked/simresults_curve.csv crooked/out.png

# 6. A single sample: no genotype can repeat, in the data or by chance.
run_psex single 'PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=20\nTITLE=single\n\nSample,a,b\ns1,1,2\n'
plot single simresults_single.csv
expect_line single.out "Run single: N = 1 sample, 0 simulated PSex values (0 of them 0)"
expect_line single.out "PValue(0.01): threshold 1, realized level 0"
expect_line single.out "Genotypes seen more than once: 0"
expect_line single.out "Note: No genotype is seen more than once in the data."
expect_png single.png

# A table without samples, with MLLDISTANCE: psex still writes the result
# files (and ends with status 1), the distances file holds its header alone,
# and both pictures are drawn.
printf 'PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=20\nMLLDISTANCE=1\nTITLE=empty\n\nSample,a,b\n' >empty.txt
"$PSEX" empty.txt >/dev/null 2>&1
[ "$(cat distances_empty.csv)" = "distance,observed_pairs,sibling_pairs,unrelated_pairs" ] ||
    fail "empty: distances_empty.csv is not the header alone"
plot empty simresults_empty.csv
expect_line empty.out "Run empty: N = 0 samples, 0 simulated PSex values (0 of them 0)"
grep -q "^Distances from distances_empty.csv: 0 observed pairs, " empty.out ||
    fail "empty: no distances summary with 0 observed pairs"
expect_png empty.png
expect_png empty-distances.png

# 6b. A map, when the run had COORDINATES.  Seven samples on a line, one
#    without coordinates: 1/1 at x = 0, 1 and 3 (one MLG of three), 1/2 at
#    x = 5 and 9 (two), 2/2 at x = 6, and 2/3 with no place.  psex writes
#    spatial_map.csv; the map is drawn from map.txt, named in the results.
run_psex map 'PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=20\nTITLE=map\nCOORDINATES=x,y\n\nSample,a,b,x,y\nm1,1,1,0,0\nm2,1,1,1,0\nm3,1,1,3,0\nm4,1,2,5,0\nm5,2,2,6,0\nm6,1,2,9,0\nm7,2,3,NA,NA\n'
[ -s spatial_map.csv ] || fail "psex wrote no spatial_map.csv"
"$RSCRIPT" "$SCRIPT" simresults_map.csv >map.out 2>map.err || fail "map: exit status $? ($(cat map.err))"
expect_line map.out "Map from map.txt: 6 of 7 samples located, 2 MLGs of two or more located samples"
# Ac from the summary: on the line, m3 has two nearest neighbours (m2 and m4
# at 2), the others one; Psp = (2/1 + 1/2) / 6, Psg = 4/15, Ac = 9/44.
expect_line map.out "Aggregation of the MLGs: Ac = 0.205, p = NA"
expect_line map.out "Wrote simresults_map-map.png"
expect_png simresults_map-map.png
# With lineages (MLLDISTANCE=1 joins 1/1 and 1/2, and 2/2 with 1/2): the
# genets are the MLLs, here one of five located samples.
run_psex mapl 'PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=20\nTITLE=mapl\nMLLDISTANCE=1\nCOORDINATES=x,y\n\nSample,a,b,x,y\nm1,1,1,0,0\nm2,1,1,1,0\nm3,5,5,3,0\nm4,1,2,5,0\nm5,2,2,6,0\n'
plot mapl simresults_mapl.csv
expect_line mapl.out "Map from mapl.txt: 5 of 5 samples located, 1 MLL of two or more located samples"
expect_png mapl-map.png
# From another folder: the data file named in the results is found beside
# them.
mkdir -p elsewhere
(cd elsewhere && "$RSCRIPT" "$SCRIPT" ../simresults_map.csv out.png >out.txt 2>&1) ||
    fail "map from elsewhere: exit status $?"
expect_line elsewhere/out.txt "Map from ../map.txt: 6 of 7 samples located, 2 MLGs of two or more located samples"
expect_png elsewhere/out-map.png
# A data file that no longer holds the run's samples, or none at all: no
# map, and a note says why; the other pictures are drawn.
sed 's/^m6,/m9,/' map.txt >changed.txt && mv changed.txt map.txt
plot changed simresults_map.csv
expect_line changed.out "Note: no map: the data file 'map.txt' holds other samples than the results (changed since the run?)"
expect_absent changed-map.png
expect_png changed.png
rm map.txt
plot gone simresults_map.csv
expect_line gone.out "Note: no map: the data file 'map.txt' that the results name cannot be read here"
expect_absent gone-map.png
# A spatial file beside the results of a run without COORDINATES is left
# from an earlier run: passed over, with a note.
cp spatial_map.csv spatial_worked.csv
plot worked simresults_worked.csv
expect_line worked.out "Note: spatial_worked.csv passed over: the run had no COORDINATES (left from an earlier run?)"
expect_absent worked-map.png

# 7. Bad input: each fails with its message and leaves no picture.
printf 'PLOIDY=2\n\nSample,a,b\n' >notresults.csv
expect_failure notresults 1 "is not a psex simulation results file" notresults.csv notresults.png
expect_failure missing 1 "cannot read 'missing.csv'" missing.csv missing.png
sed 's/^2e-09,$/2e-O9,/' fixture.csv >badvalue.csv
expect_failure badvalue 1 "unreadable value in the PSex Values block" badvalue.csv badvalue.png
sed 's/^MLG3,2,1e-09,0.285714,ns,/MLG3,2,1e-09,0.285714,maybe,/' fixture.csv >badlevel.csv
expect_failure badlevel 1 "unreadable MLG line" badlevel.csv badlevel.png
sed 's/^PValues,7$/PValues,8/' fixture.csv >badcount.csv
expect_failure badcount 1 "announces 8 simulated values but lists 7" badcount.csv badcount.png
mkdir -p broken
cp simresults_lineages.csv broken/simresults_lineages.csv
printf 'distance,observed_pairs,sibling_pairs,unrelated_pairs\n0,0,5,1\n1,-2,4,3\n' \
    >broken/distances_lineages.csv
expect_failure broken/out 1 "unreadable line in 'broken/distances_lineages.csv'" \
    broken/simresults_lineages.csv broken/out.png
printf 'distance,pairs\n0,3\n' >broken/distances_lineages.csv
expect_failure broken/out 1 "is not a psex distances file" \
    broken/simresults_lineages.csv broken/out.png
printf 'unit,id,n\n' >broken/spatial_map.csv
cp simresults_map.csv broken/simresults_map.csv
expect_failure broken/map 1 "is not a psex spatial file" broken/simresults_map.csv broken/map.png
expect_absent broken/map-map.png
expect_failure nofolder 1 "cannot write a picture into the folder 'no/such'" \
    fixture.csv no/such/nofolder.png
"$RSCRIPT" "$SCRIPT" >/dev/null 2>&1
status=$?
[ "$status" = 2 ] || fail "no arguments: exit status $status, expected 2"

# 8. Installed: psex-plot beside psex, executable, run by its own name
#    (through its #! line), with the same summary as through Rscript.
"$CMAKE" --install "$BUILD_DIR" --prefix "$work/prefix" >install.log 2>&1 ||
    fail "cmake --install: exit status $? ($(cat install.log))"
installed=$(find "$work/prefix" -name psex-plot)
if [ -z "$installed" ] || [ ! -x "$installed" ]; then
    fail "no executable psex-plot installed"
else
    [ "$(dirname "$installed")" = "$(dirname "$(find "$work/prefix" -name psex -type f)")" ] ||
        fail "psex-plot is not installed beside psex"
    [ "$(head -n 1 "$installed")" = "#!/usr/bin/env Rscript" ] ||
        fail "psex-plot does not start with '#!/usr/bin/env Rscript'"
    PATH="$(dirname "$RSCRIPT"):$PATH" "$installed" fixture.csv installed.png \
        >installed.out 2>installed.err || fail "installed psex-plot: exit status $?"
    sed 's/^Wrote .*//' installed.out >installed.cmp
    sed 's/^Wrote .*//' fixture.out >fixture.cmp
    cmp -s installed.cmp fixture.cmp || fail "installed psex-plot prints another summary"
    expect_png installed.png
    [ "$(PATH="$(dirname "$RSCRIPT"):$PATH" "$installed" --version)" = "psex-plot $version" ] ||
        fail "installed psex-plot --version does not print 'psex-plot $version'"
fi
[ -n "$(find "$work/prefix" -path '*/man1/psex-plot.1')" ] || fail "no manual page psex-plot.1 installed"
[ "$(dirname "$(find "$work/prefix" -path '*/man1/psex-plot.1')")" = \
  "$(dirname "$(find "$work/prefix" -path '*/man1/psex.1')")" ] ||
    fail "psex-plot.1 is not installed beside psex.1"

# 9. The command line.  --help and -h print the same usage text on standard
#    output, --version prints psex's version under psex-plot's name; each
#    ends with status 0, wherever it stands among the arguments, and draws
#    nothing.
# expect_text NAME STATUS ARGUMENTS...: the program ends with STATUS and
# writes nothing to standard error and no picture NAME.png.
expect_text() {
    name=$1
    expected=$2
    shift 2
    "$RSCRIPT" "$SCRIPT" "$@" >"$name.out" 2>"$name.err"
    status=$?
    [ "$status" = "$expected" ] || fail "$name: exit status $status, expected $expected"
    [ -s "$name.err" ] && fail "$name: standard error '$(cat "$name.err")'"
    expect_absent "$name.png"
}
expect_text help 0 --help
[ "$(head -n 1 help.out)" = "Usage: psex-plot [--] simresults_<run>.csv [out.png]" ] ||
    fail "--help: first line '$(head -n 1 help.out)'"
expect_line help.out "  -h, --help   print this text"
expect_line help.out "  --version    print the version"
expect_text h 0 -h
cmp -s help.out h.out || fail "-h prints another text than --help"
expect_text helpafter 0 fixture.csv helpafter.png --help
cmp -s help.out helpafter.out || fail "--help after file names prints another text"
expect_text version 0 --version
[ "$(cat version.out)" = "psex-plot $version" ] ||
    fail "--version prints '$(cat version.out)', expected 'psex-plot $version'"
expect_text versionafter 0 fixture.csv versionafter.png --version
cmp -s version.out versionafter.out || fail "--version after file names prints another text"

#    An unknown option is refused with status 2, even beside a file name;
#    a readable file whose name begins with '-' is a file, and so is any
#    name after --.
expect_failure unknown 2 "psex-plot: unknown option '--colour' (try --help)" \
    fixture.csv unknown.png --colour
cp fixture.csv ./-dash.csv
plot dash -dash.csv
expect_line dash.out "Run fixture: N = 5 samples, 7 simulated PSex values (2 of them 0)"
expect_png dash.png
cp fixture.csv ./--help
"$RSCRIPT" "$SCRIPT" -- --help ended.png >ended.out 2>ended.err ||
    fail "-- --help: exit status $? ($(cat ended.err))"
expect_line ended.out "Run fixture: N = 5 samples, 7 simulated PSex values (2 of them 0)"
expect_png ended.png

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "psex-plot: all checks passed"
