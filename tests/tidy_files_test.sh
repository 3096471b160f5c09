#!/bin/sh
# tidy_files_test.sh: the tidy result files read as they are in R and in
# Python's csv module, with numeric columns and every row.
#
# Usage: tidy_files_test.sh RSCRIPT PSEX EXAMPLE
#
# Runs psex on EXAMPLE (a data file with MLLDISTANCE, so that all three tidy
# files are written) and on a small file with a sample name that holds a
# double quote, then reads samples_, summary_ and distances_ with read.csv
# and with csv.DictReader, without any option.

set -u
RSCRIPT=$1
PSEX=$2
EXAMPLE=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/psex-tidy-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$EXAMPLE" lineages.txt
printf 'PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=5\nTITLE=quoted\n\nS,a\n"x,1\ny,1\nz,2\n' > quoted.txt
"$PSEX" lineages.txt quoted.txt > /dev/null 2>&1 || { echo "FAILED: psex"; exit 1; }

"$RSCRIPT" -e '
d <- read.csv("samples_lineages.csv")
stopifnot(nrow(d) == 28, is.numeric(d$pgen), is.numeric(d$psex), is.numeric(d$p_value),
          is.numeric(d$mlg), is.numeric(d$n), is.numeric(d$mll), is.character(d$level))
stopifnot(all(is.na(d$psex[d$n == 1])), all(!is.na(d$psex[d$n > 1])))
s <- read.csv("summary_lineages.csv")
stopifnot(is.numeric(s$value), all(c("mlg", "mll") %in% s$unit))
x <- read.csv("distances_lineages.csv")
stopifnot(all(sapply(x, is.numeric)), x$distance == seq_len(nrow(x)) - 1)
q <- read.csv("samples_quoted.csv")
stopifnot(nrow(q) == 3, q$sample[1] == "\"x", is.numeric(q$psex))
' || { echo "FAILED: R"; exit 1; }

python3 - <<'PYTHON' || { echo "FAILED: Python"; exit 1; }
import csv
rows = list(csv.DictReader(open("samples_lineages.csv", newline="")))
assert len(rows) == 28
for row in rows:
    float(row["pgen"])
    assert (row["psex"] == "NA") == (row["n"] == "1")
quoted = list(csv.DictReader(open("samples_quoted.csv", newline="")))
assert [row["sample"] for row in quoted] == ['"x', "y", "z"], quoted
full = [row for row in csv.reader(open("fulltable_quoted.csv", newline="")) if row[:1] == ['"x']]
assert len(full) == 1 and len(full[0]) == 5, full
PYTHON
echo "the tidy files read in R and Python"
