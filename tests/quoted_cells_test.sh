#!/bin/sh
# quoted_cells_test.sh: names that CSV must quote read back to the same cells
# in Python's csv module and, where R is installed, in R's read.csv.
#
# Usage: quoted_cells_test.sh PSEX [RSCRIPT]
#
# The data file's name holds a double quote and a comma (it is the run name
# and the "Datafile" cell), and its locus names a double quote or a CR
# (LOCUSNAMES splits at commas, so a locus name holds no comma).  Every cell
# that holds one of them is quoted as CSV quotes; once read, every row of
# the full table and of the MLG table has as many cells as its header.
# Without RSCRIPT only Python reads the files, and the test says so.

set -u
PSEX=$1
RSCRIPT=${2:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/psex-quoted-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
name='meadow "north",2019.txt'
printf 'PLOIDY=2\nLOCUSCOUNT=3\nLOCUSNAMES="A,B"x,D\rE\nSIMULATIONS=20\n\nS,a1,a2,b1,b2,c1,c2\ns1,10,12,20,20,30,31\ns2,10,12,20,20,30,31\ns3,12,12,20,22,31,31\ns4,10,10,22,22,30,30\n' > "$name"
"$PSEX" "$name" > /dev/null 2>&1 || { echo "FAILED: psex"; exit 1; }

python3 - "$name" <<'PYTHON' || { echo "FAILED: Python"; exit 1; }
import csv, sys
name = sys.argv[1]
columns = ['"A_0', '"A_1', 'B"x_0', 'B"x_1', 'D\rE_0', 'D\rE_1']

def rows(prefix):
    with open(prefix + name + ".csv", newline="") as stream:
        return list(csv.reader(stream))

full = rows("fulltable_")
assert full[0] == ["Datafile", name], full[0]
assert full[2] == ["Sample", "MLG", "PSex", "PValue"] + columns, full[2]
samples = [row for row in full[3:] if row]
assert [row[0] for row in samples] == ["s4", "s1", "s2", "s3"], samples
assert all(len(row) == len(full[2]) for row in samples), samples

sim = rows("simresults_")
assert sim[0] == ["Datafile", name], sim[0]
assert sim[2] == ["MLG", "n", "PSex", "Significance", "Level", "PGen"] + columns, sim[2]
mlgs = sim[3:6]
assert all(len(row) == len(sim[2]) for row in mlgs), mlgs
assert ["", "", "", "", '"A', "", 'B"x', "", "D\rE", ""] in sim, "the locus line"
for locus in ('"A', 'B"x', "D\rE"):
    assert ["Locus " + locus] in sim, locus
assert ["LOCUSNAMES", '"A', 'B"x', "D\rE"] in sim, "the header echo"
PYTHON

if [ -z "$RSCRIPT" ]; then
    echo "the quoted cells read in Python; R is not installed, so read.csv was not tried"
    exit 0
fi
"$RSCRIPT" -e '
name <- commandArgs(trailingOnly = TRUE)[1]
# (R reads a CR inside a quoted field as a line end: "D\rE" comes back as
# "D\nE", one cell all the same.)
columns <- c("\"A_0", "\"A_1", "B\"x_0", "B\"x_1", "D\nE_0", "D\nE_1")
file <- function(prefix) paste0(prefix, name, ".csv")
first <- read.csv(file("fulltable_"), header = FALSE, nrows = 1)
stopifnot(first$V1 == "Datafile", first$V2 == name)
full <- read.csv(file("fulltable_"), skip = 2, check.names = FALSE)
stopifnot(identical(names(full), c("Sample", "MLG", "PSex", "PValue", columns)),
          identical(full$Sample, c("s4", "s1", "s2", "s3")), is.numeric(full[["D\nE_1"]]))
mlgs <- read.csv(file("simresults_"), skip = 2, nrows = 3, check.names = FALSE)
stopifnot(identical(names(mlgs), c("MLG", "n", "PSex", "Significance", "Level", "PGen", columns)),
          identical(mlgs$MLG, c("MLG1", "MLG2", "MLG3")), is.numeric(mlgs[["\"A_1"]]))
' "$name" || { echo "FAILED: R"; exit 1; }
echo "the quoted cells read in Python and R"
