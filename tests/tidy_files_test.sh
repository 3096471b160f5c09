#!/bin/sh
# tidy_files_test.sh: the tidy result files read as they are in R and in
# Python's csv module, with numeric columns and every row.
#
# Usage: tidy_files_test.sh RSCRIPT PSEX EXAMPLE MAPPED
#
# Runs psex on EXAMPLE (a data file with MLLDISTANCE, so that all three tidy
# files are written), on MAPPED (a data file with COORDINATES and SPATIAL:
# the spatial and kinship files) and on a small file with a sample name that
# holds a double quote, then reads samples_, summary_, distances_, spatial_
# and kinship_ with read.csv and with csv.DictReader, without any option;
# then the same for linkage_ and loci_ of the example beside EXAMPLE that
# switches on every analysis (clonality.txt).

set -u
RSCRIPT=$1
PSEX=$2
EXAMPLE=$3
MAPPED=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/psex-tidy-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$EXAMPLE" lineages.txt
cp "$(dirname "$EXAMPLE")/clonality.txt" clonality.txt
cp "$MAPPED" mapped.txt
printf 'PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=5\nTITLE=quoted\n\nS,a\n"x,1\ny,1\nz,2\n' > quoted.txt
"$PSEX" lineages.txt quoted.txt clonality.txt > /dev/null 2>&1 || { echo "FAILED: psex"; exit 1; }
"$PSEX" mapped.txt > /dev/null 2>&1 || { echo "FAILED: psex on mapped.txt"; exit 1; }
run=$(sed -n 's/^TITLE=//p' mapped.txt)

RUN=$run "$RSCRIPT" -e '
d <- read.csv("samples_lineages.csv")
stopifnot(nrow(d) == 28, is.numeric(d$pgen), is.numeric(d$psex), is.numeric(d$p_value),
          is.numeric(d$mlg), is.numeric(d$n), is.numeric(d$mll), is.character(d$level))
stopifnot(all(is.na(d$psex[d$n == 1])), all(!is.na(d$psex[d$n > 1])))
s <- read.csv("summary_lineages.csv")
stopifnot(is.numeric(s$value), all(c("mlg", "mll") %in% s$unit))
x <- read.csv("distances_lineages.csv")
stopifnot(all(sapply(x, is.numeric)), x$distance == seq_len(nrow(x)) - 1)
p <- read.csv(paste0("spatial_", Sys.getenv("RUN"), ".csv"))
stopifnot(nrow(p) > 0, is.character(p$unit), is.numeric(p$id), is.numeric(p$n),
          is.numeric(p$located), is.numeric(p$subrange), any(!is.na(p$subrange)))
k <- read.csv(paste0("kinship_", Sys.getenv("RUN"), ".csv"))
stopifnot(nrow(k) == 20, all(k$level %in% c("ramets", "genets")), is.numeric(k$class),
          is.numeric(k$max_distance), is.numeric(k$mean_distance), is.numeric(k$pairs),
          is.numeric(k$kinship))
m <- read.csv(paste0("summary_", Sys.getenv("RUN"), ".csv"))
stopifnot(is.numeric(m$value), all(c("mlg", "mll", "ramets", "genets") %in% m$unit))
q <- read.csv("samples_quoted.csv")
stopifnot(nrow(q) == 3, q$sample[1] == "\"x", is.numeric(q$psex))
l <- read.csv("linkage_clonality.csv")
stopifnot(identical(l$data, c("all", "clone_corrected")), is.numeric(l$ia), is.numeric(l$p_ia),
          is.numeric(l$rbarD), is.numeric(l$p_rbarD), all(l$permutations == 999))
k <- read.csv("loci_clonality.csv")
stopifnot(all(sapply(k, is.numeric)), k$loci == seq_len(nrow(k)), k$mlg_min <= k$mlg_q25,
          k$mlg_q75 <= k$mlg_max)
r <- read.csv("summary_clonality.csv")
stopifnot(is.numeric(r$value), sum(r$statistic == "emlg") == 2)
' || { echo "FAILED: R"; exit 1; }

RUN=$run python3 - <<'PYTHON' || { echo "FAILED: Python"; exit 1; }
import csv
rows = list(csv.DictReader(open("samples_lineages.csv", newline="")))
assert len(rows) == 28
for row in rows:
    float(row["pgen"])
    assert (row["psex"] == "NA") == (row["n"] == "1")
import os
run = os.environ["RUN"]
for row in csv.DictReader(open("spatial_%s.csv" % run, newline="")):
    int(row["id"]), int(row["n"]), int(row["located"])
    assert row["subrange"] == "NA" or float(row["subrange"]) >= 0
kinship = list(csv.DictReader(open("kinship_%s.csv" % run, newline="")))
assert len(kinship) == 20 and {row["level"] for row in kinship} == {"ramets", "genets"}
for row in kinship:
    int(row["pairs"]), float(row["kinship"]), float(row["max_distance"])
quoted = list(csv.DictReader(open("samples_quoted.csv", newline="")))
assert [row["sample"] for row in quoted] == ['"x', "y", "z"], quoted
full = [row for row in csv.reader(open("fulltable_quoted.csv", newline="")) if row[:1] == ['"x']]
assert len(full) == 1 and len(full[0]) == 5, full
linkage = list(csv.DictReader(open("linkage_clonality.csv", newline="")))
assert [row["data"] for row in linkage] == ["all", "clone_corrected"], linkage
for row in linkage:
    float(row["ia"]), float(row["p_ia"]), float(row["rbarD"]), float(row["p_rbarD"])
curve = list(csv.DictReader(open("loci_clonality.csv", newline="")))
assert [int(row["loci"]) for row in curve] == list(range(1, len(curve) + 1)), curve
for row in curve:
    assert float(row["mlg_min"]) <= float(row["mlg_median"]) <= float(row["mlg_max"]), row
PYTHON
echo "the tidy files read in R and Python"
