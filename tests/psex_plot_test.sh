#!/bin/sh
# psex_plot_test.sh: test the picture program psex-plot (tools/psex-plot.R).
#
# Usage: psex_plot_test.sh RSCRIPT SCRIPT PSEX CMAKE BUILD_DIR
#
# Draws pictures from a hand-written simulation results file (with PSex
# values of 0, which a log scale cannot show) and from files that psex
# writes (a worked example with one repeated genotype, and a single sample,
# whose simulations give no PSex value at all), and checks the summary the
# script prints and that each picture is a non-empty PNG file.  Bad input
# must fail with a message and leave no picture.  Last, the build is
# installed into a scratch prefix, and the installed psex-plot must run by
# its own name.

set -u
RSCRIPT=$1
SCRIPT=$2
PSEX=$3
CMAKE=$4
BUILD_DIR=$5

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

# plot NAME CSV: draw the results file CSV into NAME.png, the summary the
# script prints into NAME.out.
plot() {
    "$RSCRIPT" "$SCRIPT" "$2" "$1.png" >"$1.out" 2>"$1.err" ||
        fail "$1: exit status $? ($(cat "$1.err"))"
}

# run_psex NAME DATA: write DATA (a printf format) to NAME.txt and run psex
# on it.
run_psex() {
    # shellcheck disable=SC2059
    printf "$2" >"$1.txt"
    "$PSEX" "$1.txt" >/dev/null 2>&1 || fail "psex on $1.txt: exit status $?"
}

# 1. A hand-written results file.  Seven simulated values, two of them 0;
#    with M = 7 every threshold is the smallest value (index floor(level x 6)
#    = 0), here 0.  MLG1 (PSex 0) and MLG3 (PSex 1e-09) are seen twice, MLG2
#    once.
cat >fixture.csv <<'EOF'
Datafile,fixture.txt

MLG,n,PSex,Significance,Level,PGen,L1_0,L1_1
MLG1,2,0,0,ns,0,0,5
MLG2,1,"-","-","-",0.25,1,2
MLG3,2,1e-09,0.285714,ns,0.0001,2,2

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

PValue(0.01),0,significance level,0
PValue(0.05),0,significance level,0
PValue(0.10),0,significance level,0

Samplesize,5
PValues,7


Allele frequencies:
Locus L1
,1,0.2
,2,0.6
,5,0.2


PSex Values:
0,
0,
1e-10,
2e-09,
3e-08,
4e-07,
5e-06,


Specified parameters:
LOCUSCOUNT,1
TITLE,fixture

EOF
plot fixture fixture.csv
expect_line fixture.out "Run fixture: N = 5 samples, 7 simulated PSex values (2 of them 0)"
expect_line fixture.out "PValue(0.05): threshold 0, realized level 0"
expect_line fixture.out "Genotypes seen more than once: 2"
expect_line fixture.out "  MLG1: n = 2, PSex = 0, ns"
expect_line fixture.out "  MLG3: n = 2, PSex = 1e-09, ns"
grep -q "MLG2" fixture.out && fail "the genotype seen once is listed"
expect_png fixture.png

# Without an output name the picture goes beside the input.
"$RSCRIPT" "$SCRIPT" fixture.csv >/dev/null 2>&1 || fail "default output name: exit status $?"
expect_png fixture.png

# 2. The worked example through psex: four samples 1/2, 1/2, 1/1, 2/3.
#    Allele frequencies 0.5, 0.375, 0.125; the genotype 1/2 (MLG2, seen
#    twice) has PGen 2 x 0.5 x 0.375 = 0.375 and PSex = 1 - 0.625^4
#    - 4 x 0.375 x 0.625^3 = 0.481201171875.
run_psex worked 'PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=L1\nSIMULATIONS=50\nTITLE=worked\n\nSample,a,b\ns1,1,2\ns2,1,2\ns3,1,1\ns4,2,3\n'
plot worked simresults_worked.csv
expect_line worked.out "Genotypes seen more than once: 1"
grep -q "^  MLG2: n = 2, PSex = 0.481201, " worked.out || fail "worked example: MLG2 not listed"
count=$(grep -c '^[0-9].*,$' simresults_worked.csv)
expect_line worked.out "Run worked: N = 4 samples, $count simulated PSex values (0 of them 0)"
expect_png worked.png

# 3. A single sample: no genotype can repeat, in the data or by chance.
run_psex single 'PLOIDY=2\nLOCUSCOUNT=1\nSIMULATIONS=20\nTITLE=single\n\nSample,a,b\ns1,1,2\n'
plot single simresults_single.csv
expect_line single.out "Run single: N = 1 sample, 0 simulated PSex values (0 of them 0)"
expect_line single.out "PValue(0.01): threshold 1, realized level 0"
expect_line single.out "Genotypes seen more than once: 0"
expect_png single.png

# 4. Bad input: not a results file, a missing file, wrong arguments.
printf 'PLOIDY=2\n\nSample,a,b\n' >notresults.csv
"$RSCRIPT" "$SCRIPT" notresults.csv bad.png >/dev/null 2>bad.err
status=$?
[ "$status" = 1 ] || fail "not a results file: exit status $status, expected 1"
grep -q "is not a psex simulation results file" bad.err || fail "no message for a wrong file"
[ -e bad.png ] && fail "a picture was drawn from a wrong file"
"$RSCRIPT" "$SCRIPT" missing.csv bad.png >/dev/null 2>&1
status=$?
[ "$status" = 1 ] || fail "missing file: exit status $status, expected 1"
"$RSCRIPT" "$SCRIPT" >/dev/null 2>&1
status=$?
[ "$status" = 2 ] || fail "no arguments: exit status $status, expected 2"

# 5. Installed: psex-plot beside psex, executable, run by its own name
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
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "psex-plot: all checks passed"
