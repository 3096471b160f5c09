#!/usr/bin/env python3
"""Independent re-derivation of psex's results from a data file alone.

psex groups the samples of a data file into multilocus genotypes (MLGs) and
writes comma-separated files: a simulation results file
(simresults_<run>.csv), a full table file (fulltable_<run>.csv), a samples
file (samples_<run>.csv), a summary file (summary_<run>.csv) and, with the
header key MLLDISTANCE, a distances file (distances_<run>.csv).  This script
recomputes everything those files hold, and everything the program prints on
the console, without using any of the program's code, and compares line by
line.  Standard library only.

What is recomputed, and how:

* the data file: header lines, the line that ends the header, the
  column-name line and the data lines, with the reader's line-numbered
  messages (E1 to E6, and "error:L: empty column name between 'A' and
  'B'." for an empty name between two names, after which the column line
  counts as having no columns);
* the data section's own warnings on standard error: a blank spreadsheet
  row (at least as many fields as column positions, all empty) is skipped
  with "warning: line L: empty row skipped."; data that end before the end
  of the file (a line beginning with a space or TAB, or a short line) while
  K later lines hold more than spaces, TABs and CRs give "warning: the data
  end at line L; K later lines were not read." (L the ending line's own
  number);
* the header interpretation (PLOIDY, FREQUENCY, MODEL, SIMULATIONS,
  LOCUSCOUNT, LOCUSNAMES, TITLE, MISSING, MLLDISTANCE) with its defaults and
  messages,
  the warnings about unknown keys (first of all the table's messages, in key
  order, with "did you mean" when the key trimmed of spaces, TABs and CRs and
  in upper case is a known one), and the column count check (a table whose
  columns do not fit lists at most as many loci as the column line has
  distinct names, one at least);
* MLG grouping (the two values of a diploid locus in ascending order, then
  MLGs ascending by allele values as signed integers), allele frequencies
  from all samples, from distinct MLGs or round robin, He, Ho, Fis, PGen
  under HWE or FIS
  (a negative per-locus FIS term counts as 0), G, N, R, Pd, the single and
  clonal MLG counts.  These follow the definitions in double arithmetic and
  must match the printed cells exactly;
* round-robin frequencies (FREQUENCY=ROUNDROBIN): for each locus j the
  samples, in data-file order, are grouped by their stored alleles at every
  other locus; the first sample of each group counts its (typed) copies at
  j, each allele count / copies counted.  An allele typed at j in the data
  but carried by none of the counted samples gets 1 / (ploidy x G), G the
  number of MLGs; then every value is divided by the locus's sum (taken in
  ascending allele order).  Ho and Fis count MLGs, as with MLG.  With one
  locus (after the defaults) MLG is used, with "warning:
  FREQUENCY=ROUNDROBIN needs two or more loci; using MLG." after the
  defaults' messages and before the locus names' and the column count's;
* missing data (header key MISSING=<code>, read like atoi): a copy holding
  the code is missing.  It is grouped and printed as the code, but it is not
  counted in the frequencies (each locus is normalized over its own typed
  copies), a sample (or MLG) with a missing copy at a locus is left out of
  that locus's Ho, and a locus with a missing copy has the PGen factor 1.
  The note "note: missing allele copies: <locus> <count>, ..." follows the
  data section's warnings.  In the simulation a copy for which no allele is
  chosen holds the code (0 without MISSING);
* PSex exactly, with integers and fractions: the binomial upper tail
  sum_{i>=n} C(N,i) g^i (1-g)^(N-i), with g the exact value of the PGen
  double.  The program first sums the lower terms in double, i from n-1
  down to 0 (C(N,i) as the running product (N/i)((N-1)/(i-1))..., the
  powers with the C library's pow), which is recomputed here term by term.
  Where that sum S is at most 1 - 1e-5, PSex is 1 - S, bit for bit.  Above,
  1 - S would keep only the rounding of S (a tail of 1e-30 would print as 0
  or 4.44089e-16), and the program sums the upper tail directly: the
  printed value must lie within 1e-12 relative of the exact tail (one
  subnormal step either way below the normal range, so a tail below the
  smallest double may be 0).  For large N the terms overflow and the
  program sums in log space instead; there 1 - S must lie within the
  rounding of that sum (psex_error_bound), and near PSex 1e-5 either way is
  taken.  A sum above 1 + 1e-07 brings the rounding warning on standard
  error, whichever value is printed (ProgramPsex);
* the simulated PSex list: the process-wide Boost lagged_fibonacci607
  generator (default seed 331) is replayed here from its published
  definition (minstd_rand0 seeding, 48-bit words, lags 607 and 273), the
  simulated data sets are redrawn allele by allele and the PSex of each of
  their repeated genotypes is recomputed as if it had been seen in the real
  data: real allele frequencies, real N and, under MODEL=FIS, the real
  table's Fis at every locus, with the same PSex function.  The printed list
  must match value by value: exactly where the value is 1 - S, within the
  tail's tolerance elsewhere (values that close may stand in either order).
  With --no-replay only its structure is checked (ascending, within [0, 1],
  not longer than the simulations allow).  After the simulations, a file
  with a repeated MLG whose list holds M < 1000 values brings "warning:
  only M simulated repeats; ..." on standard error;
* from the printed list: the thresholds (entry floor(alpha*(M-1)), or 1 for
  an empty list), the realized significance levels, each clonal MLG's
  Significance (the share of simulated values strictly below its PSex; a
  PSex above every simulated value gives 1, an empty list 0) and Level code
  ("ns", "*", "**", "***" against T(0.05), T(0.01), T(0.001)).  A simulated
  value from the same PGen and n as the MLG is the same double, so it is
  not below it.  Where a printed value ties another at 6 digits and the
  replay cannot tell which is smaller (a tail within its tolerance of the
  other), every outcome consistent with the tie is accepted; the samples
  file's full PSex of the MLG, where it is a double the program may give,
  narrows that down (class Judgement);
* without any simulated value (M = 0) no repeated MLG gets a Significance
  or a Level (dash cells; NA in the samples file), the summary's thresholds
  and realized levels are NA, and the warning after the simulations reads
  "warning: no simulated repeats; the significance of repeated genotypes is
  undefined: raise SIMULATIONS.";
* the family-wise p-value of every repeated MLG with PSex x: (c + 1) /
  (K + 1), K = SIMULATIONS and c the number of replayed data sets whose
  smallest chance-repeat PSex is at most x (a data set that ties within the
  tolerance may count either way; class FamilywiseJudgement), its level
  '***' at most 1/1000, '**' at most 1/100, '*' at most 5/100, else 'ns';
  and genets_0.05 = G plus n - 1 for every repeated MLG whose level is 'ns';
* a locus without any typed copy has no He (a dash cell) and no frequency
  sum to check; after the missing-copy note "warning: locus '<name>' has no
  typed allele copy; it adds nothing to PGen." (when a sample was read);
  the frequency message is never repeated for the chance repeats;
* allele cells that are not whole numbers (an optional sign and digits
  after trimming spaces; blank cells pass): "warning: line L: allele
  '<cell>' is not a whole number; read as <value>." for the first five,
  then "warning: K more allele cells are not whole numbers.", in line order
  with the data section's own warnings;
* a short data line is named by its own number, and data that end with
  text unread (the short line's own text, or later lines) make the exit
  status 1; a data file with no header line holding '=' whose first line
  has three or more cells separated by commas, semicolons or TABs gets, last
  of all its messages, "hint: '<path>' looks like a spreadsheet table, not a
  psex data file; convert it with psex-import.";
* the full table: one line per sample, grouped by MLG, with the PSex and the
  p-value (the MLG's Significance) of clonal MLGs, dash cells otherwise; a
  sample name that holds a double quote is quoted as CSV quotes it;
* the samples file: the header "sample,mlg,n,pgen,psex,p_value,level,mll,
  p_familywise,level_familywise", then one row per sample in data-file
  order: the name (quoted as a CSV field when it holds a double quote,
  comma, CR or LF), the MLG number, n, PGen, PSex, Significance and Level
  (NA, NA, NA for n = 1), the number of its lineage (the MLG number without
  MLLDISTANCE), and the family-wise p-value and level (NA, NA for n = 1).  Doubles in
  shortest
  round-trip form as std::to_chars writes them (function shortest); the
  same doubles and code as the simulation results file, every row of an MLG
  alike; lines end with LF, no "Datafile," line and no empty line at the
  end;
* lineages (MLLDISTANCE=<k>, read like atoi): the distance of two MLGs,
  over the loci typed in both, is at a diploid locus 2 minus the size of
  the multiset intersection of the two pairs, at a haploid locus 0 or 1.
  For k >= 1, MLGs at most k apart are linked; lineages are the connected
  groups (single linkage), numbered in the order of their first MLG in
  table order (class Table, _join_lineages);
* the summary file, always written: "statistic,unit,value", the richness
  and diversity rows (G, N, R, Pd, single, clonal, simpson, shannon,
  evenness_E5, pielou_J, pareto_beta; function diversity) over the MLG
  sizes, then simulated_repeats (M), the thresholds and realized levels at
  0.01, 0.05 and 0.10, genets_0.05, then the diversity rows over the
  lineage sizes.  E5 and J lie in [0, 1] and are exactly 1 for units all of
  one size; beta regresses log10 of the samples in units of at least x
  samples on log10 x.
  Counts are integers, R and Pd (one division each) the exact double, the
  indices built from sums within a relative 1e-12 (another order of
  summation may change the last bits), NA where undefined; a threshold is
  the full double of the simulated list entry (its shortest form, which
  prints as the list entry with 6 digits and is a double the replayed entry
  may be), a realized level exactly that of the simulation results file;
* the distances file, with MLLDISTANCE only:
  "distance,observed_pairs,sibling_pairs,unrelated_pairs" and one row per
  distance from 0 to the largest with a count in any column.  The observed
  pairs are all pairs of distinct MLGs; the references are SIMULATIONS x 10
  pairs of full siblings and then as many unrelated pairs, drawn from
  splitmix64 started at 0x7073657820726566 ("psex ref") for every data file
  (class SplitMix64, Table.reference_distances): two parents mlgs[x mod G],
  each offspring locus by locus one copy from each parent at index x & 1
  (haploid: the parent by x & 1); an unrelated copy walks the locus's
  frequencies with u = (x >> 11) 2^-53 and has no allele when the walk
  passes the last one.  Without any MLG both reference columns are 0.
* the analyses that header keys switch on (each off without its key; its
  value, when not accepted, gets one message and the key is taken as absent;
  the keys are read after MLLDISTANCE, in the order LINKAGE, LOCICURVE,
  MLLMETHOD, RAREFY, COORDINATES, SPATIAL, SPATIALCLASSES):
  - LINKAGE=<P> (digits): linkage_<run>.csv, rows 'all' (samples typed at
    every copy) and 'clone_corrected' (the first of them of each MLG): I_A
    and rbarD from exact integer sums over pairs of the copies apart, then in
    double in a fixed order; P shuffles of each locus from splitmix64 "psex
    ld ", p = (1 + count of S2 >= observed) / (P + 1);
  - LOCICURVE=<R> (digits, >= 1): loci_<run>.csv, the MLGs on every k-subset
    of loci, or on R subsets drawn from "psex cur", with R's type-7
    quartiles;
  - MLLMETHOD=AVERAGE|FARTHEST: lineages merged pair by pair while the mean
    (exact fraction) or largest MLG distance is at most k (k >= 1), ties to
    the smallest pair of lineage numbers;
  - RAREFY=<n> (digits, >= 1): summary rows emlg and emlg_se of units mlg
    and mll, exact fractions against which the program's long double
    products may differ within a stated bound (exact at n = 1 and n = N, NA
    for n > N);
  - COORDINATES=<x>,<y>: the two columns after the alleles, decimal cells
    (no usable coordinates: a warning per sample for the first five, then a
    count); spatial_<run>.csv (subranges), kinship_<run>.csv (Loiselle
    kinship by distance class, ramets and genets) and the summary rows
    subrange_max, subrange_mean, aggregation_Ac, aggregation_p (units mlg and
    mll) and sp, kinship_slope, kinship_first_class (units ramets and
    genets); SPATIAL=<P> shuffles the located samples' units from splitmix64
    "psex spa"; SPATIALCLASSES=<d1>,... sets upper bounds of the classes.
  Each file comes after the distances file in the order linkage, loci,
  spatial, kinship, and one of an earlier run that this run does not write
  goes as the distances file does.  What is exact and what is compared
  within a tolerance is said where the analyses are derived;

Numbers in the simulation results and full table files are formatted as
C's %g with 6 significant digits; undefined statistics (R with N <= 1, Pd
and Ho without samples, the Fis from such an Ho) are the dash cell "-" with
its quotes.

Usage:
  check_results.py --psex BINARY DATAFILE...
      run BINARY on each data file alone in a fresh temporary folder and
      check its console output, exit status and every result file.
  check_results.py --case CASEDIR...   /   --cases CASESDIR
      check the expected files of end-to-end test cases (args, inputs,
      expected/stdout, expected/stderr, expected/status, expected/files/)
      against this re-derivation; the run is modelled from the args as the
      program's driver does it (overwrite warnings, write errors, exit
      status, the random stream running on from one file to the next).
  check_results.py --examples EXAMPLES_DIR EXPECTED_DIR
      the same for the expected results of the shipped examples: every
      folder EXPECTED_DIR/<name>/ (stdout, stderr, status, files/) belongs to
      EXAMPLES_DIR/<name>.txt, run by its file name alone.
  check_results.py DATAFILE SIMRESULTS FULLTABLE [SAMPLES [SUMMARY
                   [DISTANCES]]] [--argument ARG] [--no-replay]
                   [--linkage FILE] [--loci FILE] [--spatial FILE]
                   [--kinship FILE]
      check the result files that a run on DATAFILE wrote; ARG is the data
      file argument as it was given to the program (default: DATAFILE).
  check_results.py --self-test [FOLDER]
      check this script's derivation on small data files worked by hand;
      with FOLDER, those files are left there (to run a program on them with
      --psex).

The driver's part: every argument is read before any file is processed.
--help or -h (usage text) and --version ("psex <version>", the project's
version in CMakeLists.txt) end the run with status 0; their standard output
is not derived beyond that.  "--" ends the options; any other argument that
begins with '-' and names no regular file gives "error: unknown option
'<arg>' (try --help)" and status 2 before any file is read (see
command_line).  "--set KEY=VALUE" before the data files sets the key for
every data file over its own header line (the echo of the header shows the
value used), and standard output says once, before the first file, "Set
from the command line: KEY=VALUE, ..."; a --set that sets nothing gives its
message and status 2.  A data file that cannot be opened ends the run at once with
status 2.  The result files are written in the order simresults, fulltable,
samples, summary, then distances (with MLLDISTANCE), and replaced as one
set: a folder at a result name gives "error: '<name>' exists and is not a
regular file." for each such name, otherwise a result file that cannot be
written (its folder is missing) gives "error: cannot write output file
'<name>'." in that order; either way "error: no result file of
'<argument>' was replaced." follows, status 1, and no file is written.
When all are written, their overwrite warnings come in that order, then
"Warning: removing output file 'distances_<run>.csv' of an earlier run."
when a run without MLLDISTANCE finds one (run names without a folder part
only), then "Results are written to"; a data file without any sample still has
its result files written, then "error: no sample was read from
'<argument>'.".  Result names that come to one file once their folder
parts are resolved ("simresults_x/../same.csv" and "fulltable_x/../same.csv"
with both folders present), or a run name from TITLE that leads out of the
working folder, write nothing: "error: result files of '<argument>' would
overwrite each other ('<later name>')." or "... would be written outside the
working folder ('<name>').", before the no-sample message.  Each of these
makes the exit status 1.

Exit status: 0 when everything agrees, 1 when something disagrees (every
disagreement is printed), 77 with --skip-missing when a data file is absent,
2 on usage errors.
"""

import argparse
import collections
import csv
import heapq
import io
import itertools
import math
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
from fractions import Fraction

DASH = '"-"'
INT32_MIN = -(2 ** 31)
INT32_MAX = 2 ** 31 - 1
ROUNDING_UNIT = 2.0 ** -50  # a generous few units of the double's 2^-53


def fmt(value):
    """Format a double as an ostream with default flags does (%g)."""
    if isinstance(value, float) and (math.isnan(value) or math.isinf(value)):
        return DASH
    return "%g" % value


class Unsupported(Exception):
    """The data file asks for more than this checker is willing to replay."""


# --------------------------------------------------------------------------
# The random source: Boost's lagged_fibonacci607, default-constructed.
# --------------------------------------------------------------------------


class LaggedFibonacci607:
    """lagged_fibonacci_01_engine<double, 48, 607, 273> with seed 331.

    Seeding draws 2 x 607 numbers from minstd_rand0 (x -> 16807 x mod
    2^31 - 1, started at the seed); each state word is
    (first + (second & 0xFFFF) * 2^32) / 2^48.  Every step then adds the
    word 273 places back (modulo 1) and returns the words in order.
    """

    LONG_LAG = 607
    SHORT_LAG = 273

    def __init__(self, seed=331):
        modulus = 2147483647
        x = seed % modulus or 1
        words = []
        for _ in range(2 * self.LONG_LAG):
            x = (16807 * x) % modulus
            words.append(x)
        scale = 2.0 ** -48
        self.state = [
            (words[2 * j] + (words[2 * j + 1] & 0xFFFF) * 2 ** 32) * scale
            for j in range(self.LONG_LAG)
        ]
        self.index = self.LONG_LAG

    def _fill(self):
        x = self.state
        p, q = self.LONG_LAG, self.SHORT_LAG
        for j in range(q):
            t = x[j] + x[j + (p - q)]
            x[j] = t - 1.0 if t >= 1.0 else t
        for j in range(q, p):
            t = x[j] + x[j - q]
            x[j] = t - 1.0 if t >= 1.0 else t
        self.index = 0

    def __call__(self):
        if self.index >= self.LONG_LAG:
            self._fill()
        value = self.state[self.index]
        self.index += 1
        return value


# --------------------------------------------------------------------------
# Reading a data file (everything as latin-1 text, so one char is one byte).
# --------------------------------------------------------------------------


class DataFile:
    """The header, the column names and the data lines of one data file,
    with the messages a reader prints (standard output) as it goes."""

    def __init__(self, data):
        self.text = data.decode("latin-1")
        self.pos = 3 if self.text.startswith("\xef\xbb\xbf") else 0
        self.line = 1
        self.parameters = {}
        self.column_names = {}
        self.positions = 0
        self.messages = []  # standard output lines
        self.warnings = []  # standard error lines of the data section
        # Whether the file looks like a spreadsheet table: no header line
        # holds '=', and its first line has three or more cells.
        self.header_has_equals = False
        self.first_line_cells = 0
        # The data ended before the end of the file with text unread.
        self.ended_early = False
        self.row_line = 0  # the line of the row delivered last
        if self._read_header():
            while self._peek() == "#":
                self._skip_line()
            self._read_column_names()

    def _get(self):
        if self.pos >= len(self.text):
            return None
        c = self.text[self.pos]
        self.pos += 1
        return c

    def _peek(self):
        return self.text[self.pos] if self.pos < len(self.text) else None

    def _skip_line(self):
        """Skip up to and including the next LF; False at the end of file."""
        while True:
            c = self._get()
            if c is None:
                return False
            if c == "\n":
                self.line += 1
                return True

    def _take_until(self, c, stops):
        """Collect the text from the character 'c' on, up to the end of file
        or a character of 'stops'; return the text and that character (None
        at the end of file)."""
        text = ""
        while c is not None and c not in stops:
            text += c
            c = self._get()
        return text, c

    def _end_line(self, text):
        """Count the line end just read; return 'text' without a CR at its
        end."""
        self.line += 1
        return text[:-1] if text.endswith("\r") else text

    def _end_of_file_in_header(self):
        self.messages.append(
            "Error:%d: end of file while parsing header variable." % self.line)
        return False

    def _read_header(self):
        while True:
            c = self._get()
            if c == "#":
                self._skip_line()
                continue
            if c == "\r":
                continue
            if c == "\n":
                self.line += 1
                return True
            if c in ("\t", " "):
                self._skip_line()
                return True
            if c is None:
                return self._end_of_file_in_header()
            first_line = self.line == 1
            key, c = self._take_until(c, ("=", "\n"))
            if c == "=":
                self.header_has_equals = True
            elif first_line:
                self.first_line_cells = 1 + max(key.count(sep) for sep in (",", ";", "\t"))
            if c is None:
                return self._end_of_file_in_header()
            if c == "\n":
                # A line without '=' is reported and ignored.
                key = self._end_line(key)
                self.messages.append(
                    "Error:%d: header variable with no '=' (line = '%s')." % (self.line, key))
                continue
            value, c = self._take_until(self._get(), ("\n", "\t"))
            if c is None:
                return self._end_of_file_in_header()
            if c == "\n":
                value = self._end_line(value)
            else:
                # What follows a TAB is a spreadsheet's leftover cells.
                if not self._skip_line():
                    self._store(key, value)
                    return self._end_of_file_in_header()
            self._store(key, value)

    def _store(self, key, value):
        if key in self.parameters:
            self.messages.append(
                "error:%d: duplicate key in header ('%s')." % (self.line, key))
        self.parameters[key] = value

    def _read_column_names(self):
        name = ""
        left = ""  # the last name before the current one
        gap = False  # an empty name followed it
        refused = False
        while True:
            c = self._get()
            if c is None:
                break  # a name not closed by a separator or LF is dropped
            if c == "\r":
                continue
            if c in (",", "\t", "\n"):
                if not name:
                    gap = bool(left)
                else:
                    # An empty name between two names: no columns at all.
                    if gap:
                        self.messages.append("error:%d: empty column name between '%s' and "
                                             "'%s'." % (self.line, left, name))
                        refused = True
                        gap = False
                    left = name
                    if name in self.column_names:
                        self.messages.append(
                            "error:%d: duplicate column name '%s'." % (self.line, name))
                    self.column_names[name] = self.positions
                    self.positions += 1
                if c == "\n":
                    self.line += 1
                    break
                name = ""
                continue
            name += c
        if refused:
            self.column_names = {}
            self.positions = 0

    def column_count(self):
        return len(self.column_names)

    def looks_like_table(self):
        return not self.header_has_equals and self.first_line_cells >= 3

    def read_data_line(self):
        """Return the fields of the next complete data line, or None when the
        data have ended.  A blank spreadsheet row (at least as many fields as
        positions, every one of them empty) is no sample: it is reported on
        standard error and the next line is read instead."""
        while True:
            own_line = self.line
            first = self._peek()
            if first is None:
                return None
            if first in ("\t", " "):
                end = self.text.find("\n", self.pos)
                self.ended_early = self._data_end(own_line,
                                                  "" if end < 0 else self.text[end + 1:])
                return None
            n = self.positions
            fields = []
            field = ""
            extra_text = False
            ended_by_lf = False
            while True:
                c = self._get()
                if c == "\r":
                    continue
                if c is None or c in (",", "\t", "\n"):
                    if len(fields) < n:
                        fields.append(field)
                    elif extra_text:
                        self.messages.append(
                            "error:%d: data line has too many entries." % self.line)
                        if c == "\n":
                            self.line += 1
                        elif c is not None:
                            self._skip_line()  # the rest of the line goes too
                        break
                    field = ""
                    if c == "\n":
                        self.line += 1
                        ended_by_lf = True
                        break
                    if c is None:
                        break
                    continue
                if len(fields) < n:
                    field += c
                else:
                    extra_text = True
            if not fields:
                return None
            if len(fields) >= n:
                if not extra_text and all(f == "" for f in fields):
                    self.warnings.append("warning: line %d: empty row skipped." % own_line)
                    continue
                self.row_line = own_line
                return fields
            # A short line is named by its own number.  A blank one loses
            # nothing; one with text loses its sample.
            self.messages.append(
                "error:%d: data line has not enough entries (%d of %d)." % (
                    own_line, len(fields), n))
            later = self._data_end(own_line, self.text[self.pos:] if ended_by_lf else "")
            self.ended_early = later or any(fields)
            return None

    def _data_end(self, own_line, rest):
        """The data end at line 'own_line' before the end of the file; 'rest'
        is the text after that line.  Later lines that hold more than blanks
        were meant as data, most likely: say how many were not read."""
        later = sum(1 for piece in rest.split("\n") if piece.strip(" \t\r"))
        if later:
            self.warnings.append("warning: the data end at line %d; %d later lines were not "
                                 "read." % (own_line, later))
        return later > 0


def atoi(text):
    """C's atoi, saturated at the 32-bit limits."""
    match = re.match(r"[ \t\n\v\f\r]*([+-]?)([0-9]*)", text)
    digits = match.group(2)
    if not digits:
        return 0
    value = int(digits)
    if match.group(1) == "-":
        value = -value
    return max(INT32_MIN, min(INT32_MAX, value))


# --------------------------------------------------------------------------
# The genotype table and its statistics.
# --------------------------------------------------------------------------


def exact_psex(g, n, total, cache={}):
    """1 - sum_{i<n} C(N,i) g^i (1-g)^(N-i) for the exact value of double g."""
    key = (g, n, total)
    if key not in cache:
        a, d = g.as_integer_ratio()
        b = d - a
        tail = sum(math.comb(total, i) * a ** i * b ** (total - i) for i in range(n))
        whole = d ** total
        cache[key] = Fraction(whole - tail, whole)
    return cache[key]


def binomial_coefficient(n, k):
    """C(n, k) as the running product (n/k)((n-1)/(k-1))...((n-k+1)/1)."""
    r = 1.0
    a, b = n, k
    while b != 0:
        r = r * (float(a) / float(b))
        a -= 1
        b -= 1
    return r


def double_psex(g, n, total, cache={}):
    """PSex as a double sum: S = sum over i = n-1 down to 0 of
    C(N,i) g^i (1-g)^(N-i), then 1 - S (S above 1 counts as 1).  Returns
    (PSex, S) or (None, None) when a term is not finite: the binomial
    coefficient overflows for large N, and the sum is then taken in log space,
    which this script checks against the exact value only."""
    key = (g, n, total)
    if key not in cache:
        complement = 1.0 - g
        total_sum = 0.0
        result = None
        for i in range(n - 1, -1, -1):
            term = (binomial_coefficient(total, i) * math.pow(g, float(i))
                    * math.pow(complement, float(total - i)))
            if math.isnan(term) or math.isinf(term):
                break
            total_sum += term
        else:
            result = (1.0 - min(total_sum, 1.0), total_sum)
        cache[key] = result if result is not None else (None, None)
    return cache[key]


def rounding_warning(total_sum):
    """The warning for a sum that exceeds 1 by more than 1e-07, or None."""
    if total_sum is not None and total_sum - 1.0 > 1e-07:
        return "Warning: rounded %.12g to 1.0." % total_sum
    return None


def psex_error_bound(n):
    """How far the program's double PSex may stray from the exact value."""
    return (3 * n + 6) * ROUNDING_UNIT


# Where the lower sum S exceeds this double, 1 - S has kept too few digits
# and the program sums the upper tail directly instead.
TAIL_BOUNDARY = 1.0 - 1e-5
# How close to the exact tail the directly summed PSex must be.
TAIL_RELATIVE_ERROR = 1e-12
SMALLEST_NORMAL = 2.0 ** -1022
SUBNORMAL_STEP = 2.0 ** -1074


class ProgramPsex:
    """What the program's PSex of a genotype with PGen g, seen n times
    among N samples, may be: the exact value, the lower sum S in double
    (None in log space), the rounding warning that S brings, and the
    intervals [lo, hi] of doubles that the printed PSex may hold.

    * S above TAIL_BOUNDARY: the upper tail summed directly, within
      TAIL_RELATIVE_ERROR of the exact tail; below the normal range one
      subnormal step either way (a tail below the smallest double may be
      0);
    * otherwise 1 - S, bit for bit: the interval is that one double;
    * in log space, where S is not known here: the tail when the exact
      PSex lies clearly below 1e-5, 1 - S within psex_error_bound(n) when
      it lies clearly above, either near 1e-5.

    Where S lies within two units of the last place of the boundary, both
    the tail and 1 - S are accepted: whether the program compares S with
    the rounded 1 - 1e-5 or 1 - S with 1e-5 is its own affair."""

    def __init__(self, g, n, total):
        self.g = g
        self.n = n
        self.exact = exact_psex(g, n, total)
        one_minus_sum, self.sum = double_psex(g, n, total)
        self.warning = rounding_warning(self.sum)
        self.intervals = []
        if self.sum is not None:
            near = abs(self.sum - TAIL_BOUNDARY) <= 2.0 * math.ulp(TAIL_BOUNDARY)
            if self.sum > TAIL_BOUNDARY or near:
                self.intervals.append(self._tail())
            if self.sum <= TAIL_BOUNDARY or near:
                self.intervals.append((one_minus_sum, one_minus_sum))
        else:
            err = psex_error_bound(n)
            if self.exact < Fraction(1e-5) + Fraction(err):
                self.intervals.append(self._tail())
            if self.exact > Fraction(1e-5) - Fraction(err):
                exact = float(self.exact)
                self.intervals.append((max(0.0, math.nextafter(exact - err, -1.0)),
                                       min(1.0, math.nextafter(exact + err, 2.0))))
        self.lo = min(lo for lo, _ in self.intervals)
        self.hi = max(hi for _, hi in self.intervals)
        # The one double it must be, or None.
        self.value = self.lo if self.lo == self.hi else None
        # Where it stands among the others: the double, else the exact value.
        self.key = self.value if self.value is not None else float(self.exact)

    def _tail(self):
        exact = float(self.exact)  # correctly rounded
        if exact == 0.0 and self.exact == 0:
            return (0.0, 0.0)
        slack = exact * TAIL_RELATIVE_ERROR
        if exact < SMALLEST_NORMAL:
            slack = max(slack, SUBNORMAL_STEP)
        return (max(0.0, math.nextafter(exact - slack, -1.0)),
                min(1.0, math.nextafter(exact + slack, 2.0)))

    def holds(self, value):
        """Whether the double 'value' is one the program may give."""
        return any(lo <= value <= hi for lo, hi in self.intervals)

    def six_digits_ok(self, text):
        """Whether 'text' is what %g prints for a double the program may
        give."""
        return printable_from(text, self.intervals)

    def shortest_ok(self, text):
        """Whether 'text' is the shortest form of a double the program may
        give."""
        try:
            value = float(text)
        except ValueError:
            return False
        return text == shortest(value) and self.holds(value)

    def describe(self):
        if self.value is not None:
            return "%s (%r)" % (fmt(self.value), self.value)
        return "a double in [%r, %r] (exact %.12g)" % (self.lo, self.hi, float(self.exact))


def program_psex(g, n, total, cache={}):
    key = (g, n, total)
    if key not in cache:
        cache[key] = ProgramPsex(g, n, total)
    return cache[key]


def printable_from(text, intervals):
    """Whether 'text' is what %g (6 significant digits) prints for some
    double in one of the intervals [lo, hi]; an interval of one double must
    print as exactly that text."""
    if any(lo == hi and fmt(lo) == text for lo, hi in intervals):
        return True
    try:
        printed = float(text)
    except ValueError:
        return False
    if fmt(printed) != text or not math.isfinite(printed):
        return False
    # The doubles that print as 'text' lie within half a unit of its last
    # digit (either end, as the halfway rounding goes).
    value = Fraction(text)
    if value == 0:
        half_unit = Fraction(0)
    else:
        exponent = math.floor(math.log10(abs(printed)))
        if Fraction(10) ** exponent > abs(value):
            exponent -= 1
        elif Fraction(10) ** (exponent + 1) <= abs(value):
            exponent += 1
        half_unit = Fraction(1, 2) * Fraction(10) ** (exponent - 5)
    return any(lo != hi and Fraction(lo) <= value + half_unit and value - half_unit <= Fraction(hi)
               for lo, hi in intervals)


def shortest(value):
    """A double as std::to_chars writes it without a format: the shortest
    digit string that reads back to the same double (Python's repr chooses
    the same digits), in fixed or scientific notation, whichever has fewer
    characters (fixed on a tie); a scientific exponent has its sign and at
    least two digits; a whole number in fixed notation has its exact
    digits.  A value that is not finite is NA."""
    if not math.isfinite(value):
        return "NA"
    if value == 0.0:
        return "-0" if math.copysign(1.0, value) < 0 else "0"
    sign = "-" if value < 0 else ""
    mantissa, _, exponent = repr(abs(value)).partition("e")
    whole, _, fraction = mantissa.partition(".")
    digits = whole + fraction
    # The value is 0.<digits> x 10^point.
    point = len(whole) + (int(exponent) if exponent else 0)
    stripped = digits.lstrip("0")
    point -= len(digits) - len(stripped)
    digits = stripped.rstrip("0")
    if point <= 0:
        fixed = "0." + "0" * -point + digits
    elif point >= len(digits):
        # A whole number is written with all its digits, exactly (beyond
        # 2^53 these differ from the shortest digits padded with zeros).
        fixed = str(int(abs(value)))
    else:
        fixed = digits[:point] + "." + digits[point:]
    power = point - 1
    scientific = digits[0] + ("." + digits[1:] if len(digits) > 1 else "") + \
        "e%s%02d" % ("-" if power < 0 else "+", abs(power))
    return sign + (fixed if len(fixed) <= len(scientific) else scientific)


def csv_field(text):
    """A text cell (a sample or locus name, the data file path) as the result
    files write it: quoted, with its double quotes doubled, when it holds a
    double quote, a comma, a CR or a LF."""
    if any(c in text for c in "\",\r\n"):
        return '"' + text.replace('"', '""') + '"'
    return text


def expected_heterozygosity(frequencies):
    """1 - sum of squares in ascending allele order; undefined (NaN) for a
    locus without any typed copy."""
    if not frequencies:
        return float("nan")
    total = 0.0
    for allele in sorted(frequencies):
        total += frequencies[allele] * frequencies[allele]
    return 1.0 - total


def missing_at(alleles, ploidy, j, missing):
    """Whether a copy of locus j is the missing-data code (never without one)."""
    return missing is not None and any(
        alleles[ploidy * j + k] == missing for k in range(ploidy))


def pgen(alleles, ploidy, frequencies, fis_by_locus, missing=None):
    """PGen in double, locus by locus in table order; fis_by_locus is None
    under HWE.  A locus with a missing copy tells nothing about the genotype
    there: its factor is 1, under either model."""
    probability = 1.0
    for j, freqs in enumerate(frequencies):
        if missing_at(alleles, ploidy, j, missing):
            continue
        f = 1.0
        for k in range(ploidy):
            f = f * freqs.get(alleles[ploidy * j + k], 0.0)
        heterozygous = ploidy == 2 and alleles[2 * j] != alleles[2 * j + 1]
        if fis_by_locus is not None:
            big_f = fis_by_locus[j]
            if heterozygous:
                f = (1.0 - big_f) * f
            else:
                p = freqs.get(alleles[ploidy * j], 0.0)
                f = big_f * p + (1.0 - big_f) * f
        term = f + f if heterozygous else f
        if term < 0.0:
            term = 0.0  # heterozygote excess can push a homozygote's term below 0
        probability = probability * term
    return probability


# An allele cell that is a whole number: an optional sign and digits (spaces
# around them are trimmed first; a blank cell is no number misread).  The
# first SHOWN_CELLS others are named, the rest counted.
WHOLE_NUMBER = re.compile(r"[+-]?[0-9]+")
SHOWN_CELLS = 5

# The keys of the analyses that a header switches on (see "Analyses switched
# on by header keys" below).
ANALYSIS_KEYS = ("LINKAGE", "LOCICURVE", "MLLMETHOD", "RAREFY", "COORDINATES", "SPATIAL",
                 "SPATIALCLASSES")
KNOWN_KEYS = ("PLOIDY", "LOCUSCOUNT", "LOCUSNAMES", "FREQUENCY", "MODEL", "SIMULATIONS",
              "TITLE", "MISSING", "MLLDISTANCE") + ANALYSIS_KEYS


def ascii_upper(text):
    """Upper case for the letters a to z only (the text is latin-1)."""
    return "".join(chr(ord(c) - 32) if "a" <= c <= "z" else c for c in text)


def unknown_key_warnings(parameters):
    """One warning per header key that no part of the program reads, in
    byte-wise key order, with the known key it was probably meant to be."""
    lines = []
    for key in sorted(parameters):
        if key in KNOWN_KEYS:
            continue
        guess = ascii_upper(key.strip(" \t\r"))
        if guess in KNOWN_KEYS:
            lines.append("warning: unknown header key '%s' ignored; did you mean '%s'?"
                         % (key, guess))
        else:
            lines.append("warning: unknown header key '%s' ignored." % key)
    return lines


class Table:
    """The genotype table of one data file, built as the program must."""

    def __init__(self, data_file):
        params = data_file.parameters
        self.errors = unknown_key_warnings(params)  # standard error lines
        # MISSING=<code>: copies holding the code are missing data.
        self.missing = atoi(params["MISSING"]) if "MISSING" in params else None
        self.ploidy = 0
        if "PLOIDY" in params:
            value = params["PLOIDY"]
            if value in ("DIPLOID", "2"):
                self.ploidy = 2
            elif value in ("HAPLOID", "1"):
                self.ploidy = 1
            else:
                self.errors.append(
                    "error: only HAPLOID and DIPLOID are supported for now (not '%s')." % value)
        # FREQUENCY: SAMPLE (all samples), MLG (each distinct genotype once) or
        # ROUNDROBIN (each locus from the genotypes distinct at the others).
        self.frequency = params.get("FREQUENCY", "SAMPLE")
        if self.frequency not in ("SAMPLE", "MLG", "ROUNDROBIN"):
            self.errors.append("error: FREQUENCY is unspecified, assuming SAMPLE.")
            self.frequency = "SAMPLE"
        self.fis_model = self._chooses(params, "MODEL", "FIS", "HWE")
        # MLLDISTANCE=<k>: MLGs at most k allele copies apart form one lineage.
        # Only digits make a distance (saturated at the 32-bit limit); any
        # other value is warned about and forms no lineages.
        self.mll_distance = None
        if "MLLDISTANCE" in params:
            value = params["MLLDISTANCE"]
            if re.fullmatch(r"[0-9]+", value):
                self.mll_distance = min(int(value), 2**31 - 1)
            else:
                self.errors.append("warning: MLLDISTANCE '%s' is not a whole number >= 0; "
                                   "no lineages are formed." % value)
        self.analysis = interpret_analysis_keys(params, self.errors)
        self.simulations = atoi(params["SIMULATIONS"]) if "SIMULATIONS" in params else 0
        locus_count = atoi(params["LOCUSCOUNT"]) if "LOCUSCOUNT" in params else 0
        names = params["LOCUSNAMES"].split(",") if "LOCUSNAMES" in params else []
        self.title = params.get("TITLE", "")
        if self.ploidy == 0:
            self.errors.append("error: PLOIDY is unspecified, assuming DIPLOID.")
            self.ploidy = 2
        if locus_count < 1:
            self.errors.append("error: LOCUSCOUNT is unspecified, assuming 1.")
            locus_count = 1
        if self.simulations < 1:
            self.errors.append("error: SIMULATIONS is unspecified, assuming 1000.")
            self.simulations = 1000
        if self.frequency == "ROUNDROBIN" and locus_count < 2:
            # With one locus there are no other loci to group the samples by.
            self.errors.append("warning: FREQUENCY=ROUNDROBIN needs two or more loci; using MLG.")
            self.frequency = "MLG"
        # Ho and Fis count every sample only with SAMPLE, else each MLG once.
        self.from_samples = self.frequency == "SAMPLE"
        # A table whose columns do not fit lists no more loci than the
        # column line has names (one at least); the names of the loci it
        # does not list are dropped without a message, unless they are
        # beyond LOCUSCOUNT.
        width = locus_count * self.ploidy
        # COORDINATES: two more columns right after the alleles.
        coordinate_error = coordinate_columns_problem(data_file, width, self.analysis)
        columns = width + 1 + (2 if self.analysis.located else 0)
        columns_fit = data_file.column_count() == columns
        held = locus_count if columns_fit else min(locus_count,
                                                   max(1, data_file.column_count()))
        if held > 100000:
            raise Unsupported("LOCUSCOUNT %d is too large to check" % locus_count)
        self.locus_names = [""] * held
        for i, name in enumerate(names):
            if i < held:
                self.locus_names[i] = name
            elif i >= locus_count:
                self.errors.append("error: too many locus names given in LOCUSNAMES.")
        if coordinate_error is not None:
            self.errors.append(coordinate_error)

        self.frequencies_failed = False
        self.simulation_errors = []
        self.mlgs = {}  # allele tuple -> sample names
        self.sample_names = []
        self.sample_alleles = []  # the allele tuple of each sample, in data-file order
        self.coordinates = []  # with COORDINATES: (x, y) of each sample, None if not located
        counts = [dict() for _ in range(held)]
        self.frequencies = [dict() for _ in range(held)]
        if not columns_fit:
            self.errors.append(
                "error: not enough columns in table according to ploidy and locus count "
                "(should be: %d has: %d)." % (columns, data_file.column_count()))
            self._finish_statistics()
            return

        missing_copies = [0] * locus_count
        not_whole = 0  # allele cells that are not whole numbers
        unlocated = 0  # samples without usable coordinates
        # The data section's warnings come as the lines are read, so a row's
        # allele warnings follow those of the lines before it.
        taken = len(data_file.warnings)
        self.errors += data_file.warnings
        while True:
            fields = data_file.read_data_line()
            self.errors += data_file.warnings[taken:]
            taken = len(data_file.warnings)
            if fields is None:
                break
            values = [atoi(fields[i + 1]) for i in range(width)]
            for i in range(width):
                cell = fields[i + 1]
                if cell.strip(" ") and not WHOLE_NUMBER.fullmatch(cell.strip(" ")):
                    not_whole += 1
                    if not_whole <= SHOWN_CELLS:
                        self.errors.append(
                            "warning: line %d: allele '%s' is not a whole number; read as %d."
                            % (data_file.row_line, cell, values[i]))
            if self.analysis.located:
                point = sample_point(fields[width + 1], fields[width + 2])
                if point is None:
                    unlocated += 1
                    if unlocated <= SHOWN_CELLS:
                        self.errors.append("warning: line %d: sample '%s' has no usable "
                                           "coordinates." % (data_file.row_line, fields[0]))
                self.coordinates.append(point)
            if self.ploidy == 2:
                # A diploid genotype is unordered: 116,114 is 114,116.
                for j in range(locus_count):
                    if values[2 * j] > values[2 * j + 1]:
                        values[2 * j], values[2 * j + 1] = values[2 * j + 1], values[2 * j]
            alleles = tuple(values)
            is_new = alleles not in self.mlgs
            self.mlgs.setdefault(alleles, []).append(fields[0])
            self.sample_names.append(fields[0])
            self.sample_alleles.append(alleles)
            for j in range(locus_count):
                for k in range(self.ploidy):
                    allele = alleles[self.ploidy * j + k]
                    if allele == self.missing:
                        missing_copies[j] += 1
                    elif self.from_samples or is_new:
                        counts[j][allele] = counts[j].get(allele, 0) + 1
        if not_whole > SHOWN_CELLS:
            self.errors.append("warning: %d more allele cells are not whole numbers."
                               % (not_whole - SHOWN_CELLS))
        if unlocated > SHOWN_CELLS:
            self.errors.append("warning: %d more samples have no usable coordinates."
                               % (unlocated - SHOWN_CELLS))
        if any(missing_copies):
            self.errors.append("note: missing allele copies: " + ", ".join(
                "%s %d" % (name, count)
                for name, count in zip(self.locus_names, missing_copies) if count))
        # A locus that no sample could type adds nothing to PGen.
        copies = len(self.sample_names) * self.ploidy
        for name, count in zip(self.locus_names, missing_copies):
            if copies and count == copies:
                self.errors.append("warning: locus '%s' has no typed allele copy; it adds "
                                   "nothing to PGen." % name)

        if self.frequency == "ROUNDROBIN":
            self.frequencies = self._round_robin_frequencies()
        else:
            for j in range(locus_count):
                total = float(sum(counts[j].values()))
                self.frequencies[j] = {a: float(c) / total for a, c in counts[j].items()}
        failed = False
        for freqs in self.frequencies:
            total = 0.0
            for allele in sorted(freqs):
                total += freqs[allele]
            # A locus without any typed copy has no sum to check.
            if freqs and abs(total - 1.0) > 1e-08:
                failed = True
        self.frequencies_failed = failed
        if failed:
            self.errors.append("error: not all frequencies sum up to +-1.0.")
        self._finish_statistics()

    def _round_robin_frequencies(self):
        """Round-robin frequencies (Parks & Werth): each locus j from the
        first sample (in data-file order) of every group of samples that
        share their alleles at all the other loci, over its typed copies at
        j.  An allele typed at j in the data but carried by no counted sample
        weighs one copy among the ploidy x G copies of the G MLGs; then the
        locus is divided by its sum (taken in ascending allele order)."""
        ploidy = self.ploidy
        g_count = len(self.mlgs)
        result = []
        for j in range(len(self.locus_names)):
            first = {}
            for alleles in self.sample_alleles:
                others = alleles[:ploidy * j] + alleles[ploidy * (j + 1):]
                first.setdefault(others, alleles)
            counts = {}
            for alleles in first.values():
                for allele in alleles[ploidy * j:ploidy * (j + 1)]:
                    if allele != self.missing:
                        counts[allele] = counts.get(allele, 0) + 1
            counted = float(sum(counts.values()))
            values = {a: float(c) / counted for a, c in counts.items()}
            for alleles in self.sample_alleles:
                for allele in alleles[ploidy * j:ploidy * (j + 1)]:
                    if allele != self.missing and allele not in values:
                        values[allele] = 1.0 / (float(ploidy) * float(g_count))
            total = 0.0
            for allele in sorted(values):
                total += values[allele]
            result.append({a: v / total for a, v in values.items()})
        return result

    def _chooses(self, params, key, choice, default):
        """Whether the header gives 'choice' for 'key'.  A value that is
        neither 'choice' nor 'default' is reported and 'default' assumed."""
        value = params.get(key, default)
        if value not in (choice, default):
            self.errors.append("error: %s is unspecified, assuming %s." % (key, default))
        return value == choice

    def _finish_statistics(self):
        self.order = sorted(self.mlgs)
        self.n_samples = len(self.sample_names)
        self.he = [expected_heterozygosity(f) for f in self.frequencies]
        self.ho = []
        self.fis = []
        for j in range(len(self.frequencies)):
            # Only samples (or MLGs) typed at every copy of the locus count.
            typed = 0
            heterozygotes = 0
            for alleles, names in self.mlgs.items():
                if missing_at(alleles, self.ploidy, j, self.missing):
                    continue
                weight = len(names) if self.from_samples else 1
                typed += weight
                if self.ploidy == 2 and alleles[2 * j] != alleles[2 * j + 1]:
                    heterozygotes += weight
            if typed == 0:
                self.ho.append(float("nan"))
                self.fis.append(float("nan"))
                continue
            ho = float(heterozygotes) / float(typed)
            self.ho.append(ho)
            he = self.he[j]
            self.fis.append((he - ho) / he if he > 0.0 else 1.0)
        self.pgen = {}
        self.psex = {}  # alleles -> ProgramPsex
        self.number = {}  # alleles -> MLG number, 1..G in table order
        for number, alleles in enumerate(self.order, start=1):
            names = self.mlgs[alleles]
            g = self.genotype_pgen(alleles)
            self.pgen[alleles] = g
            self.number[alleles] = number
            self.psex[alleles] = program_psex(g, len(names), self.n_samples)
            if self.psex[alleles].warning:
                self.errors.append(self.psex[alleles].warning)
        self._join_lineages()

    # ----------------------------------------------------------------------
    # Lineages and the distances between genotypes.

    def untyped(self, copies):
        """Whether a locus with these copies tells nothing: a copy holds the
        missing-data code, or (a simulated genotype) no allele at all."""
        return None in copies or (self.missing is not None and self.missing in copies)

    def distance(self, first, second):
        """The number of allele copies in which two genotypes differ, over
        the loci typed in both: at a diploid locus 2 minus the size of the
        multiset intersection of the two pairs, at a haploid locus 0 or 1."""
        ploidy = self.ploidy
        total = 0
        for j in range(len(self.locus_names)):
            a = list(first[ploidy * j:ploidy * (j + 1)])
            b = list(second[ploidy * j:ploidy * (j + 1)])
            if self.untyped(a) or self.untyped(b):
                continue
            shared = 0
            for allele in a:
                if allele in b:
                    b.remove(allele)
                    shared += 1
            total += ploidy - shared
        return total

    def _join_lineages(self):
        """Multilocus lineages: MLGs at most MLLDISTANCE copies apart are
        linked (k >= 1; k <= 0 links nothing), a lineage is a connected
        group (single linkage), numbered in the order of its first MLG in
        table order.  Without MLLDISTANCE every MLG is its own lineage."""
        parent = list(range(len(self.order)))

        def root(i):
            while parent[i] != i:
                parent[i] = parent[parent[i]]
                i = parent[i]
            return i

        self.observed_distances = {}
        # MLLMETHOD=AVERAGE or FARTHEST: the pairs' distances are kept and
        # clustered once all are seen (agglomerative_lineages).
        pair_distances = None
        if self.mll_distance is not None and self.mll_distance >= 1 and \
                self.analysis.mll_method != "NEAREST":
            if len(self.order) > AGGLOMERATIVE_LIMIT:
                raise Unsupported("%d MLGs are too many to cluster by %s" % (
                    len(self.order), self.analysis.mll_method))
            pair_distances = {}
        if self.mll_distance is not None:
            if len(self.order) > 5000:
                raise Unsupported("%d MLGs are too many to compare pairwise" % len(self.order))
            for i, first in enumerate(self.order):
                for j in range(i + 1, len(self.order)):
                    d = self.distance(first, self.order[j])
                    self.observed_distances[d] = self.observed_distances.get(d, 0) + 1
                    if pair_distances is not None:
                        pair_distances[(i, j)] = d
                    elif 1 <= self.mll_distance and d <= self.mll_distance:
                        parent[root(j)] = root(i)
        if pair_distances is not None:
            parent = agglomerative_lineages(len(self.order), pair_distances, self.mll_distance,
                                            self.analysis.mll_method)
        numbers = {}
        self.lineage = {}  # alleles -> lineage number, 1.. in order of first MLG
        for i, alleles in enumerate(self.order):
            self.lineage[alleles] = numbers.setdefault(root(i), len(numbers) + 1)
        self.lineage_sizes = [0] * len(numbers)
        for alleles, names in self.mlgs.items():
            self.lineage_sizes[self.lineage[alleles] - 1] += len(names)

    def reference_distances(self, generator, pairs):
        """The distances of 'pairs' pairs of full siblings and then of
        'pairs' pairs of unrelated genotypes, drawn from 'generator' (64-bit
        numbers): two histograms, distance -> count.  Without any MLG there
        are no parents and no pairs are drawn."""
        siblings = {}
        unrelated = {}
        g_count = len(self.order)
        if g_count == 0:
            return siblings, unrelated
        ploidy = self.ploidy
        loci = len(self.locus_names)

        def offspring(parent1, parent2):
            copies = []
            for j in range(loci):
                if ploidy == 2:
                    copies.append(parent1[2 * j + (generator() & 1)])
                    copies.append(parent2[2 * j + (generator() & 1)])
                else:
                    copies.append((parent1 if generator() & 1 == 0 else parent2)[j])
            return copies

        for _ in range(pairs):
            parent1 = self.order[generator() % g_count]
            parent2 = self.order[generator() % g_count]
            first = offspring(parent1, parent2)
            second = offspring(parent1, parent2)
            d = self.distance(first, second)
            siblings[d] = siblings.get(d, 0) + 1

        walks = [sorted(f.items()) for f in self.frequencies]

        def drawn():
            copies = []
            for walk in walks:
                for _ in range(ploidy):
                    u = float(generator() >> 11) * 2.0 ** -53
                    chosen = None
                    for allele, f in walk:
                        if f > u:
                            chosen = allele
                            break
                        u = u - f
                    copies.append(chosen)
            return copies

        for _ in range(pairs):
            first = drawn()
            second = drawn()
            d = self.distance(first, second)
            unrelated[d] = unrelated.get(d, 0) + 1
        return siblings, unrelated

    def genotype_pgen(self, alleles):
        """PGen of a genotype against this table: its allele frequencies and,
        under MODEL=FIS, its own Fis at every locus.  A chance repeat of a
        simulated data set is judged the same way, as if it had been seen in
        the real data."""
        return pgen(alleles, self.ploidy, self.frequencies,
                    self.fis if self.fis_model else None, self.missing)

    def replay_simulation(self, generator):
        """Draw the simulated data sets; return the ProgramPsex of every
        repeated genotype in them, in ascending order."""
        total = self.n_samples
        if self.simulations * total * len(self.frequencies) * self.ploidy > 50_000_000:
            raise Unsupported("too many draws to replay")
        walks = [sorted(f.items()) for f in self.frequencies]
        # A copy for which no allele is chosen holds the missing-data code,
        # or 0 when the file has none.
        unchosen = 0 if self.missing is None else self.missing
        values = []
        self.simulation_errors = []
        # The repeats of every data set that has any, for the family-wise
        # p-values; the data sets without one count only in K.
        self.replayed_sets = []
        for _ in range(self.simulations):
            groups = {}
            for _ in range(total):
                alleles = []
                for walk in walks:
                    chosen = []
                    for _ in range(self.ploidy):
                        u = generator()
                        for allele, f in walk:
                            if f > u:
                                chosen.append(allele)
                                break
                            u = u - f
                    chosen.sort()
                    alleles.extend(chosen + [unchosen] * (self.ploidy - len(chosen)))
                key = tuple(alleles)
                groups[key] = groups.get(key, 0) + 1
            repeats = []
            for alleles in sorted(groups):
                n = groups[alleles]
                if n > 1:
                    psex = program_psex(self.genotype_pgen(alleles), n, total)
                    # (The frequencies were checked once, for the real table.)
                    if psex.warning:
                        self.simulation_errors.append(psex.warning)
                    values.append(psex)
                    repeats.append(psex)
            if repeats:
                self.replayed_sets.append(repeats)
        values.sort(key=lambda v: v.key)
        return values


# --------------------------------------------------------------------------
# Expected lines: literal text, or a pattern with checked cells.
# --------------------------------------------------------------------------


class Cell:
    """A cell whose text is checked by a function (None when acceptable,
    otherwise a reason); 'name' is where the accepted text is recorded."""

    def __init__(self, check, name=None):
        self.check = check
        self.name = name


class Pattern:
    def __init__(self, *parts):
        self.parts = parts

    def regex(self):
        return "".join(re.escape(p) if isinstance(p, str) else "([^,]*)" for p in self.parts)

    def describe(self):
        return "".join(p if isinstance(p, str) else "<?>" for p in self.parts)


def number_check(allowed, what):
    def check(text):
        if text in allowed:
            return None
        if not allowed:
            return "%s: no value agrees with the simulated list" % what
        return "%s: expected %s" % (what, " or ".join(sorted(allowed)))
    return check


def psex_check(psex, what, samples_value=None):
    """A PSex cell with 6 significant digits: %g of a double the program may
    give (ProgramPsex); when the samples file gave the double itself,
    exactly its %g."""
    def check(text):
        if samples_value is not None:
            if text == fmt(samples_value):
                return None
            return "%s: the samples file's %s prints as %s" % (
                what, shortest(samples_value), fmt(samples_value))
        if psex.six_digits_ok(text):
            return None
        return "%s: expected %s" % (what, psex.describe())
    return check


def consistent(check, seen, key, what):
    """A cell of the samples file that every row of one MLG repeats: the
    first row's text is recorded under 'key' in 'seen', and later rows must
    repeat it."""
    def wrapped(text):
        if key in seen and seen[key] != text:
            return "%s: %r differs from the MLG's first row (%r)" % (what, text, seen[key])
        return check(text)
    return Cell(wrapped, key)


class Comparison:
    def __init__(self, label):
        self.label = label
        self.problems = []

    def problem(self, text):
        self.problems.append("%s: %s" % (self.label, text))

    def text(self, what, expected, actual):
        if expected != actual:
            self.problem("%s differs\n    expected: %r\n    actual:   %r" % (what, expected, actual))

    def lines(self, name, expected, actual_text, recorded):
        """Compare a file's text with expected lines; cells that match are
        recorded under their names."""
        if not actual_text.endswith("\n"):
            self.problem("%s: does not end with a line end" % name)
        actual = actual_text.split("\n")[:-1] if actual_text.endswith("\n") else \
            actual_text.split("\n")
        reported = 0
        for number, (want, have) in enumerate(zip(expected, actual), start=1):
            reason = None
            if isinstance(want, str):
                if want != have:
                    reason = "expected %r" % want
            else:
                match = re.fullmatch(want.regex(), have)
                if match is None:
                    reason = "expected the form %r" % want.describe()
                else:
                    cells = [p for p in want.parts if not isinstance(p, str)]
                    for cell, value in zip(cells, match.groups()):
                        why = cell.check(value)
                        if why is not None:
                            reason = (reason + "; " if reason else "") + why
                        elif cell.name is not None:
                            recorded[cell.name] = value
            if reason is not None:
                reported += 1
                if reported <= 60:
                    self.problem("%s line %d: %r: %s" % (name, number, have, reason))
        if reported > 60:
            self.problem("%s: %d more lines disagree" % (name, reported - 60))
        if len(expected) != len(actual):
            self.problem("%s has %d lines, expected %d" % (name, len(actual), len(expected)))


# --------------------------------------------------------------------------
# The simulation results, the full table and the samples file.
# --------------------------------------------------------------------------


def parse_printed_list(actual_text):
    """The PSex values printed after 'PSex Values:' (None when the block is
    missing or malformed)."""
    lines = actual_text.split("\n")
    if "PSex Values:" not in lines:
        return None
    values = []
    for line in lines[lines.index("PSex Values:") + 1:]:
        if line == "":
            break
        match = re.fullmatch(r"([^,]+),", line)
        if match is None:
            return None
        try:
            float(match.group(1))
        except ValueError:
            return None
        values.append(match.group(1))
    return values


def threshold_index(alpha, m):
    return int(alpha * float(m - 1))


def realized_level(alpha, m):
    if m == 0:
        return 0.0
    b = alpha * float(m)
    c = int(b)
    r = c + 1 if b + 0.5 >= float(c + 1) else c
    return 0.0 if r == 0 else float(r - 1) / float(m)


class Judgement:
    """How the simulated list stands against one observed PSex x: bounds on
    the number of entries strictly below x and on the number at most x.

    Two sources give bounds, and both hold: the printed values (rounding to
    6 digits keeps their order, so a printed value below the printed x lies
    below x) and the replayed values.  A replayed entry from the same PGen
    and n is the same double as x (the program's PSex is one function of
    PGen, n and N); entries whose possible doubles (ProgramPsex intervals)
    lie wholly on one side of x are decided; a double that both must be
    exactly is compared.  x is the double the samples file gave, when it
    gave one, else any double the program may give.  Entries left
    undecided (a tail within its tolerance of x) are ties that either
    outcome may settle."""

    def __init__(self, table, alleles, printed_psex, printed_list, replayed,
                 samples_value=None):
        n = len(table.mlgs[alleles])
        psex = table.psex[alleles]
        if samples_value is not None:
            self.lo = self.hi = samples_value
        else:
            self.lo, self.hi = psex.lo, psex.hi
        self.m = len(printed_list)
        verdicts = []
        if printed_psex is not None:
            x = float(printed_psex)
            verdicts.append(["<" if float(t) < x else ">" if float(t) > x else None
                             for t in printed_list])
        if replayed is not None and len(replayed) == self.m:
            g = table.pgen[alleles]
            verdict = []
            for r in replayed:
                if r.g == g and r.n == n:
                    verdict.append("=")  # the same computation gives the same double
                elif r.hi < self.lo:
                    verdict.append("<")
                elif r.lo > self.hi:
                    verdict.append(">")
                elif r.lo == r.hi == self.lo == self.hi:
                    verdict.append("=")
                else:
                    verdict.append(None)
            verdicts.append(verdict)
        self.below = (0, self.m)
        self.at_most = (0, self.m)
        for verdict in verdicts:
            below = (verdict.count("<"), verdict.count("<") + verdict.count(None))
            at_most = (verdict.count("<") + verdict.count("="),
                       self.m - verdict.count(">"))
            self.below = (max(self.below[0], below[0]), min(self.below[1], below[1]))
            self.at_most = (max(self.at_most[0], at_most[0]), min(self.at_most[1], at_most[1]))

    def significance_values(self):
        """The possible significances: k / M for every possible count k of
        entries below x; 0 for an empty list."""
        if self.m == 0:
            return {0.0}
        return {float(k) / float(self.m) for k in range(self.below[0], self.below[1] + 1)}

    def significances(self):
        """The possible Significance cells (6 digits)."""
        return {fmt(v) for v in self.significance_values()}

    def threshold_above(self, alpha):
        """Possible truth values of T(alpha) > x."""
        if self.m == 0:  # every threshold is 1
            if self.lo >= 1.0:
                return {False}
            return {True} if self.hi < 1.0 else {True, False}
        index = threshold_index(alpha, self.m)
        result = set()
        if self.at_most[0] <= index:
            result.add(True)  # the entry at index may still lie above x
        if self.at_most[1] > index:
            result.add(False)
        return result if self.at_most[0] <= self.at_most[1] else set()

    def codes(self):
        codes = set()
        for t05 in self.threshold_above(0.05):
            if not t05:
                codes.add("ns")
                continue
            for t01 in self.threshold_above(0.01):
                if not t01:
                    codes.add("*")
                    continue
                for t001 in self.threshold_above(0.001):
                    codes.add("***" if t001 else "**")
        return codes


class FamilywiseJudgement:
    """The family-wise p-value of one observed repeated genotype with PSex
    x: (c + 1) / (K + 1), K the number of simulated data sets (SIMULATIONS)
    and c the number of them whose smallest chance-repeat PSex is at most
    x.  A data set counts surely when one of its replayed repeats is surely
    at most x (the same PGen and n give the same double; intervals wholly
    at or below x), surely not when every repeat lies wholly above x, and
    either way otherwise (a tie that the tolerance leaves open).  Without a
    replay c may be anything from 0 to K.  The levels: '***' for p at most
    1/1000, '**' at most 1/100, '*' at most 5/100, else 'ns', compared as
    exact fractions."""

    def __init__(self, table, alleles, replayed_sets, samples_value=None):
        self.k = table.simulations
        if replayed_sets is None:
            self.c = (0, self.k)
            return
        n = len(table.mlgs[alleles])
        g = table.pgen[alleles]
        psex = table.psex[alleles]
        lo, hi = (samples_value, samples_value) if samples_value is not None else (psex.lo,
                                                                                   psex.hi)
        sure = maybe = 0
        for repeats in replayed_sets:
            verdicts = set()
            for r in repeats:
                if (r.g == g and r.n == n) or r.hi <= lo:
                    verdicts.add("<=")
                elif r.lo > hi:
                    verdicts.add(">")
                else:
                    verdicts.add(None)
            if "<=" in verdicts:
                sure += 1
            elif None in verdicts:
                maybe += 1
        self.c = (sure, sure + maybe)

    def fractions(self):
        return [Fraction(c + 1, self.k + 1) for c in range(self.c[0], self.c[1] + 1)]

    def p_values(self):
        """The possible cells: shortest forms of the double (c + 1)/(K + 1)."""
        return {shortest(float(c + 1) / float(self.k + 1))
                for c in range(self.c[0], self.c[1] + 1)}

    def levels(self):
        return {familywise_level(p) for p in self.fractions()}


def familywise_level(p):
    """The code of a family-wise p-value, an exact fraction."""
    if p <= Fraction(1, 1000):
        return "***"
    if p <= Fraction(1, 100):
        return "**"
    if p <= Fraction(5, 100):
        return "*"
    return "ns"


def locus_line(label, cells):
    return label + ",,," + "".join("," + c + "," for c in cells)


def split_lines(lines):
    """The specified expected 'lines' as the file's lines: a quoted cell
    that holds a line end (a data file path with one) spreads over two."""
    return [piece for line in lines
            for piece in (line.split("\n") if isinstance(line, str) else [line])]


def expected_simresults(argument, table, data_file, printed_list, replayed, recorded,
                         samples_values):
    lines = ["Datafile," + csv_field(argument), ""]
    column_names = "".join(
        "," + csv_field("%s_%d" % (name, i)) for name in table.locus_names
        for i in range(table.ploidy))
    lines.append("MLG,n,PSex,Significance,Level,PGen" + column_names)
    for number, alleles in enumerate(table.order, start=1):
        names = table.mlgs[alleles]
        allele_cells = "".join("," + str(a) for a in alleles)
        g = fmt(table.pgen[alleles])
        if len(names) <= 1:
            lines.append("MLG%d,%d,%s,%s,%s,%s%s" % (number, len(names), DASH, DASH, DASH, g,
                                                  allele_cells))
            continue
        what = "MLG%d" % number
        samples_value = samples_values.get(alleles)
        psex_cell = Cell(psex_check(table.psex[alleles], what + " PSex", samples_value),
                         what + ".psex")
        judgement = Judgement(table, alleles, recorded.get(what + ".psex"), printed_list,
                              replayed, samples_value)
        if not printed_list:
            # No chance repeat to judge by: no significance, no level.
            lines.append(Pattern("MLG%d,%d," % (number, len(names)), psex_cell,
                                 ",%s,%s,%s%s" % (DASH, DASH, g, allele_cells)))
            continue
        lines.append(Pattern(
            "MLG%d,%d," % (number, len(names)), psex_cell, ",",
            Cell(number_check(judgement.significances(), what + " Significance"),
                 what + ".significance"), ",",
            Cell(number_check(judgement.codes(), what + " Level"), what + ".level"),
            ",%s%s" % (g, allele_cells)))
    lines.append("")
    lines.append(locus_line("", [csv_field(name) for name in table.locus_names]))
    lines.append(locus_line("Number of alleles", [str(len(f)) for f in table.frequencies]))
    lines.append(locus_line("He", [fmt(v) for v in table.he]))
    lines.append(locus_line("Ho", [fmt(v) for v in table.ho]))
    lines.append(locus_line("Fis", [fmt(v) for v in table.fis]))
    g_count = len(table.mlgs)
    n = table.n_samples
    singles = sum(1 for names in table.mlgs.values() if len(names) == 1)
    r = float(g_count - 1) / float(n - 1) if n > 1 else float("nan")
    pd = float(g_count) / float(n) if n > 0 else float("nan")
    lines += ["", "", "Clonal Richness", "G,%d" % g_count, "N,%d" % n, "R," + fmt(r),
              "Pd," + fmt(pd), "Single MLGs,%d" % singles, "Clonal MLGs,%d" % (g_count - singles),
              ""]
    m = len(printed_list)
    for label, alpha in (("PValue(0.01)", 0.01), ("PValue(0.05)", 0.05), ("PValue(0.10)", 0.1)):
        threshold = printed_list[threshold_index(alpha, m)] if m else fmt(1.0)
        lines.append("%s,%s,significance level,%s" % (label, threshold,
                                                      fmt(realized_level(alpha, m))))
    lines += ["", "Samplesize,%d" % n, "PValues,%d" % m, "", "", "Allele frequencies:"]
    for name, freqs in zip(table.locus_names, table.frequencies):
        lines.append(csv_field("Locus " + name))
        for allele in sorted(freqs):
            lines.append(",%d,%s" % (allele, fmt(freqs[allele])))
    lines += ["", "", "PSex Values:"]
    near = list_neighbourhoods(replayed) if replayed is not None else []
    for k, text in enumerate(printed_list):
        if k < len(near):
            lines.append(Pattern(Cell(list_value_check(near[k], replayed[k],
                                                       "simulated PSex %d" % (k + 1))),
                                 ","))
        else:
            lines.append(text + ",")
    lines += ["", "", "", "", "Specified parameters:"]
    for key in sorted(data_file.parameters):
        # A value with commas spreads over cells; a piece with a double
        # quote, CR or LF is quoted.
        lines.append(csv_field(key) + "," + ",".join(
            csv_field(piece) for piece in data_file.parameters[key].split(",")))
    lines.append("")
    return split_lines(lines)


def expected_fulltable(argument, table, recorded, printed_list, replayed, samples_values):
    lines = ["Datafile," + csv_field(argument), ""]
    lines.append("Sample,MLG,PSex,PValue" + "".join(
        "," + csv_field("%s_%d" % (name, i)) for name in table.locus_names
        for i in range(table.ploidy)))
    for number, alleles in enumerate(table.order, start=1):
        names = table.mlgs[alleles]
        allele_cells = "".join("," + str(a) for a in alleles)
        what = "MLG%d" % number
        for name in map(csv_field, names):
            if len(names) <= 1:
                lines.append("%s,MLG_%d,%s,%s%s" % (name, number, DASH, DASH, allele_cells))
                continue
            psex = recorded.get(what + ".psex")
            significance = recorded.get(what + ".significance")
            if not printed_list:
                significance = DASH  # nothing to judge by
            if psex is not None and significance is not None:
                # The same doubles as in the simulation results file.
                lines.append("%s,MLG_%d,%s,%s%s" % (name, number, psex, significance,
                                                    allele_cells))
            else:
                samples_value = samples_values.get(alleles)
                judgement = Judgement(table, alleles, psex, printed_list, replayed,
                                      samples_value)
                allowed = judgement.significances() if printed_list else {DASH}
                lines.append(Pattern("%s,MLG_%d," % (name, number),
                                     Cell(psex_check(table.psex[alleles], what + " PSex",
                                                     samples_value)), ",",
                                     Cell(number_check(allowed, what + " PValue")),
                                     allele_cells))
    lines += ["", ""]
    return split_lines(lines)


def check_list_structure(comparison, printed_list, table, replayed):
    values = [float(t) for t in printed_list]
    if any(b < a for a, b in zip(values, values[1:])):
        comparison.problem("the simulated PSex list is not ascending")
    if any(not 0.0 <= v <= 1.0 for v in values):
        comparison.problem("a simulated PSex value lies outside [0, 1]")
    if len(values) > table.simulations * (table.n_samples // 2):
        comparison.problem("more simulated PSex values than the simulations can give")
    if replayed is not None and len(replayed) != len(values):
        comparison.problem("the simulated PSex list has %d values; the replayed simulation "
                           "gives %d" % (len(values), len(replayed)))


def list_neighbourhoods(replayed):
    """For every position of the sorted replayed list, the doubles the
    program's list may hold there: those of every replayed value whose
    possible doubles overlap, directly or through others, with those of the
    value at that position (the program may order such values either
    way)."""
    result = []
    group = []
    top = None
    for r in replayed:
        if group and r.lo > top:
            intervals = [i for member in group for i in member.intervals]
            result += [intervals] * len(group)
            group = []
        top = r.hi if not group else max(top, r.hi)
        group.append(r)
    if group:
        intervals = [i for member in group for i in member.intervals]
        result += [intervals] * len(group)
    return result


def list_value_check(intervals, replayed, what):
    def check(text):
        if printable_from(text, intervals):
            return None
        return "%s: expected %s" % (what, replayed.describe())
    return check


def samples_psex_values(table, samples_text):
    """The PSex double of every clonal MLG as the samples file gives it:
    the one text that all the MLG's rows hold, when it is the shortest form
    of a double the program may give (else the MLG is left out, and the
    samples file's own check reports it)."""
    values = {}
    if samples_text is None:
        return values
    by_number = {number: alleles for alleles, number in table.number.items()}
    texts = {}
    try:
        rows = list(csv.reader(io.StringIO(samples_text, newline="")))
    except csv.Error:
        return values
    for row in rows[1:]:
        if len(row) >= 5 and row[1].isdigit():
            texts.setdefault(int(row[1]), set()).add(row[4])
    for number, found in texts.items():
        alleles = by_number.get(number)
        if alleles is None or len(found) != 1 or len(table.mlgs[alleles]) < 2:
            continue
        text = found.pop()
        if table.psex[alleles].shortest_ok(text):
            values[alleles] = float(text)
    return values


SAMPLES_HEADER = "sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise"


def expected_samples(table, recorded, printed_list, replayed, samples_values,
                     seen):
    """The samples file: one row per sample in data-file order.  The PSex,
    p-value and level cells of a clonal MLG are the same doubles and code as
    in the simulation results file (their texts recorded there), written in
    shortest form, and every row of the MLG repeats them ('seen')."""
    lines = [SAMPLES_HEADER]
    judgements = {}
    familywise = {}
    replayed_sets = getattr(table, "replayed_sets", None) if replayed is not None else None
    for name, alleles in zip(table.sample_names, table.sample_alleles):
        number = table.number[alleles]
        n = len(table.mlgs[alleles])
        what = "sample %s (MLG%d)" % (name, number)
        parts = ["%s,%d,%d,%s," % (csv_field(name), number, n, shortest(table.pgen[alleles]))]
        if n <= 1:
            parts.append("NA,NA,NA")
        elif not printed_list:
            # No chance repeat to judge by: no p-value, no level.
            key = "MLG%d" % number
            parts += [
                consistent(samples_psex_check(table.psex[alleles], recorded.get(key + ".psex"),
                                              what + " psex"),
                           seen, key + ".psex", what + " psex"), ",NA,NA"]
        else:
            key = "MLG%d" % number
            if alleles not in judgements:
                judgements[alleles] = Judgement(table, alleles, recorded.get(key + ".psex"),
                                                printed_list, replayed,
                                                samples_values.get(alleles))
            judgement = judgements[alleles]
            parts += [
                consistent(samples_psex_check(table.psex[alleles], recorded.get(key + ".psex"),
                                              what + " psex"),
                           seen, key + ".psex", what + " psex"), ",",
                consistent(p_value_check(judgement, recorded.get(key + ".significance"),
                                         what + " p_value"),
                           seen, key + ".p_value", what + " p_value"), ",",
                consistent(level_check(judgement, recorded.get(key + ".level"),
                                       what + " level"),
                           seen, key + ".level", what + " level")]
        parts.append(",%d," % table.lineage[alleles])
        if n <= 1:
            parts.append("NA,NA")
        else:
            key = "MLG%d" % number
            if alleles not in familywise:
                familywise[alleles] = FamilywiseJudgement(table, alleles, replayed_sets,
                                                          samples_values.get(alleles))
            fw = familywise[alleles]
            p_values = fw.p_values()
            levels = fw.levels()
            parts += [
                consistent(number_check(p_values, what + " p_familywise"), seen,
                           key + ".p_familywise", what + " p_familywise"), ",",
                consistent(familywise_level_check(levels, seen, key + ".p_familywise",
                                                  what + " level_familywise"), seen,
                           key + ".level_familywise", what + " level_familywise")]
        lines.append(Pattern(*parts))
    return lines


def familywise_level_check(levels, seen, p_key, what):
    """A level_familywise cell: one of the codes the possible p-values
    give, and the code of the p_familywise cell before it (recorded under
    'p_key' in 'seen')."""
    allowed = number_check(levels, what)

    def check(text):
        why = allowed(text)
        if why is not None or p_key not in seen:
            return why
        # The printed double against the doubles nearest the levels, as the
        # cell's own double was compared.
        printed = float(seen[p_key])
        own = "***" if printed <= 0.001 else "**" if printed <= 0.01 else \
            "*" if printed <= 0.05 else "ns"
        if text != own:
            return "%s: %s, but p_familywise %s gives %s" % (what, text, seen[p_key], own)
        return None
    return check


# --------------------------------------------------------------------------
# The summary file: richness and diversity over MLGs and over lineages.
# --------------------------------------------------------------------------


SUMMARY_HEADER = "statistic,unit,value"
# The statistics of a unit (MLGs or lineages), in the order of their rows.
DIVERSITY_ROWS = ("G", "N", "R", "Pd", "single", "clonal", "simpson", "shannon",
                  "evenness_E5", "pielou_J", "pareto_beta")
COUNT_ROWS = ("G", "N", "single", "clonal")
# Single divisions of whole numbers: one correctly rounded double each.
EXACT_ROWS = ("R", "Pd")
# Sums over the units: another order of evaluation may change the last bits.
SUMMARY_RELATIVE_ERROR = 1e-12


def diversity(sizes):
    """Richness and diversity of units of the given sizes (samples per
    unit, in unit order), in double arithmetic: a dict by row name.

    R = (G - 1)/(N - 1) and Pd = G/N; single and clonal count the units of
    one sample and of more.  Simpson's 1 - sum n(n - 1)/(N(N - 1)),
    Shannon's H = -sum p ln p, E5 = (1/lambda - 1)/(e^H - 1) with lambda =
    sum p^2, Pielou's J = H/ln G (both held within [0, 1], and exactly 1
    when every unit has one size) and the Pareto beta: minus the
    least-squares slope of log10 (samples in units of at least x samples)
    on log10 x over the distinct sizes x.  NaN where undefined (N <= 1;
    G = 1 for E5 and J; fewer than two distinct sizes for beta)."""
    nan = float("nan")
    units = len(sizes)
    total = sum(sizes)
    single = sum(1 for n in sizes if n == 1)
    result = {
        "G": units, "N": total, "single": single, "clonal": units - single,
        "R": float(units - 1) / float(total - 1) if total > 1 else nan,
        "Pd": float(units) / float(total) if total > 0 else nan,
        "simpson": nan, "shannon": nan, "evenness_E5": nan, "pielou_J": nan,
        "pareto_beta": nan,
    }
    if total <= 1:
        return result
    pairs = 0.0
    concentration = 0.0
    entropy = 0.0
    for n in sizes:
        pairs += float(n) * (float(n) - 1.0)
        p = float(n) / float(total)
        concentration += p * p
        entropy -= p * math.log(p)
    result["simpson"] = 1.0 - pairs / (float(total) * (float(total) - 1.0))
    result["shannon"] = entropy
    if units > 1:
        if len(set(sizes)) == 1:
            # Perfectly even units: both indices are exactly 1.
            result["evenness_E5"] = result["pielou_J"] = 1.0
        else:
            # Within [0, 1] however the sums round.
            e5 = (1.0 / concentration - 1.0) / (math.exp(entropy) - 1.0)
            j = entropy / math.log(float(units))
            result["evenness_E5"] = min(max(e5, 0.0), 1.0)
            result["pielou_J"] = min(max(j, 0.0), 1.0)
    # Pareto beta: for each distinct size x, N(x) = the samples in units of
    # at least x samples.
    xs = []
    ys = []
    for x in sorted(set(sizes)):
        xs.append(math.log10(float(x)))
        ys.append(math.log10(float(sum(n for n in sizes if n >= x))))
    if len(xs) >= 2:
        k = float(len(xs))
        mean_x = sum(xs) / k
        mean_y = sum(ys) / k
        cov = sum((x - mean_x) * (y - mean_y) for x, y in zip(xs, ys))
        var = sum((x - mean_x) * (x - mean_x) for x in xs)
        result["pareto_beta"] = -(cov / var)
    return result


def close_check(value, what):
    """A summary value that another order of summation may change in the
    last bits: a number in shortest form within SUMMARY_RELATIVE_ERROR of
    'value' (exactly its text where it is 0 or not finite)."""
    expected = shortest(value)

    def check(text):
        if text == expected:
            return None
        if not math.isfinite(value) or value == 0.0:
            return "%s: expected %s" % (what, expected)
        try:
            printed = float(text)
        except ValueError:
            return "%s: %r is no number (expected %s)" % (what, text, expected)
        if shortest(printed) != text:
            return "%s: %r is not the shortest form of %s" % (what, text, shortest(printed))
        if not abs(printed - value) < SUMMARY_RELATIVE_ERROR * abs(value):
            return "%s: expected %s (within a relative %g)" % (what, expected,
                                                               SUMMARY_RELATIVE_ERROR)
        return None
    return check


def threshold_check(index, printed_list, near, what, seen):
    """The full double of the simulated list entry at 'index': its shortest
    form, printing with 6 digits as the simulation results file's list
    does there, one of the doubles the replay allows at that position
    ('near', or None without replay), and the same text wherever the same
    entry is asked for."""
    def check(text):
        try:
            value = float(text)
        except ValueError:
            return "%s: %r is no number" % (what, text)
        if shortest(value) != text:
            return "%s: %r is not the shortest form of %s" % (what, text, shortest(value))
        if fmt(value) != printed_list[index]:
            return "%s: %s prints as %s, the simulated list holds %s there" % (
                what, text, fmt(value), printed_list[index])
        if near is not None and not any(lo <= value <= hi for lo, hi in near[index]):
            return "%s: %s is no double the replayed entry %d may be" % (what, text, index + 1)
        if seen.setdefault(index, text) != text:
            return "%s: %s differs from %s, the same list entry" % (what, text, seen[index])
        return None
    return check


def expected_summary(table, printed_list, replayed, samples_values=None):
    """The summary file: the diversity rows over MLGs (in table order), M,
    the thresholds and realized levels (NA without a simulated value), the
    genets at the family-wise 5 % level (G, plus n - 1 for every repeated
    MLG whose family-wise level is 'ns'; any count the possible levels
    allow), then the diversity rows over lineages (in lineage-number
    order)."""
    lines = [SUMMARY_HEADER]

    def rows(unit, sizes):
        values = diversity(sizes)
        for name in DIVERSITY_ROWS:
            value = values[name]
            if name in COUNT_ROWS:
                lines.append("%s,%s,%d" % (name, unit, value))
            elif name in EXACT_ROWS:
                lines.append("%s,%s,%s" % (name, unit, shortest(value)))
            else:
                lines.append(Pattern("%s,%s," % (name, unit),
                                     Cell(close_check(value, "%s (%s)" % (name, unit)))))

    rows("mlg", [len(table.mlgs[a]) for a in table.order])
    m = len(printed_list)
    lines.append("simulated_repeats,mlg,%d" % m)
    near = list_neighbourhoods(replayed) if replayed is not None and len(replayed) == m \
        else None
    seen = {}
    for label, alpha in (("0.01", 0.01), ("0.05", 0.05), ("0.10", 0.1)):
        if m == 0:
            lines.append("threshold_%s,mlg,NA" % label)
            lines.append("realized_level_%s,mlg,NA" % label)
            continue
        lines.append(Pattern("threshold_%s,mlg," % label,
                             Cell(threshold_check(threshold_index(alpha, m), printed_list,
                                                  near, "threshold_" + label, seen))))
        lines.append("realized_level_%s,mlg,%s" % (label, shortest(realized_level(alpha, m))))
    replayed_sets = getattr(table, "replayed_sets", None) if replayed is not None else None
    low = high = len(table.mlgs)
    for alleles in table.order:
        n = len(table.mlgs[alleles])
        if n < 2:
            continue
        levels = FamilywiseJudgement(table, alleles, replayed_sets,
                                     (samples_values or {}).get(alleles)).levels()
        if levels == {"ns"}:
            low += n - 1
        if "ns" in levels:
            high += n - 1
    lines.append(Pattern("genets_0.05,mlg,", Cell(number_check(
        {str(v) for v in range(low, high + 1)}, "genets_0.05"))))
    lines += unit_analysis_rows(table, "mlg")
    rows("mll", table.lineage_sizes)
    lines += unit_analysis_rows(table, "mll")
    lines += kinship_summary_rows(table)
    return lines


# --------------------------------------------------------------------------
# The distances file: observed MLG pairs beside simulated siblings and
# unrelated pairs.
# --------------------------------------------------------------------------


DISTANCES_HEADER = "distance,observed_pairs,sibling_pairs,unrelated_pairs"
# The reference pairs' own random source starts here ("psex ref").
REFERENCE_SEED = 0x7073657820726566
# Pairs of each kind per simulated data set.
REFERENCE_PAIRS_PER_SIMULATION = 10


class SplitMix64:
    """Steele, Lea & Flood's splitmix64: 64-bit numbers from a counter
    advanced by the golden gamma and mixed by two multiplications."""

    MASK = 2 ** 64 - 1

    def __init__(self, state=REFERENCE_SEED):
        self.state = state

    def __call__(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & self.MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & self.MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & self.MASK
        return z ^ (z >> 31)


def distance_rows(observed, siblings, unrelated):
    """One line per distance from 0 to the largest counted in any column."""
    counted = [d for h in (observed, siblings, unrelated) for d, c in h.items() if c]
    return ["%d,%d,%d,%d" % (d, observed.get(d, 0), siblings.get(d, 0), unrelated.get(d, 0))
            for d in range(max(counted) + 1 if counted else 0)]


def expected_distances(table):
    pairs = table.simulations * REFERENCE_PAIRS_PER_SIMULATION
    if pairs * len(table.locus_names) * table.ploidy > 50_000_000:
        raise Unsupported("too many reference pairs to draw")
    siblings, unrelated = table.reference_distances(SplitMix64(), pairs)
    return [DISTANCES_HEADER] + distance_rows(table.observed_distances, siblings, unrelated)


def cross_checked(accepted, allowed, printed, as_printed, what):
    """The check of a samples-file cell: 'accepted(text)' says whether the
    derivation allows the text ('allowed' says what it allows), and where the
    simulation results file printed the same value ('printed', else None),
    'as_printed(text)' must give that cell."""
    def check(text):
        if not accepted(text):
            return "%s: expected %s" % (what, allowed)
        if printed is not None and as_printed(text) != printed:
            return "%s: the simulation results file has %s" % (what, printed)
        return None
    return check


def one_of(texts):
    return " or ".join(sorted(texts)) if texts else "nothing (no value fits the simulated list)"


def samples_psex_check(psex, printed, what):
    return cross_checked(psex.shortest_ok, "the shortest form of " + psex.describe(), printed,
                         lambda text: fmt(float(text)), what)


def p_value_check(judgement, printed, what):
    allowed = {shortest(v) for v in judgement.significance_values()}
    return cross_checked(allowed.__contains__, one_of(allowed), printed,
                         lambda text: fmt(float(text)), what)


def level_check(judgement, printed, what):
    allowed = judgement.codes()
    return cross_checked(allowed.__contains__, one_of(allowed), printed, lambda text: text, what)


def check_result_files(comparison, argument, table, data_file, sim_text, full_text,
                       samples_text, replayed, summary_text=None, distances_text=None,
                       analysis_texts=None):
    """Compare the result files with the re-derivation; a text that is None
    (a file not written, or not to be compared) is skipped.  'analysis_texts'
    maps the prefixes of the analyses' files (ANALYSIS_PREFIXES) to their
    texts."""
    printed_list = parse_printed_list(sim_text) if sim_text is not None else None
    if printed_list is None and sim_text is None and replayed is not None:
        printed_list = [fmt(r.key) for r in replayed]
    elif printed_list is None:
        comparison.problem("simulation results file: no readable 'PSex Values:' block")
        printed_list = [fmt(r.key) for r in replayed] if replayed is not None else []
    check_list_structure(comparison, printed_list, table, replayed)
    # The samples file gives each clonal MLG's PSex double in full, which
    # decides ties that 6 digits leave open.
    samples_values = samples_psex_values(table, samples_text)
    recorded = {}
    # Two passes: the first records the printed PSex cells, which the second
    # uses to judge ties with the simulated values.
    expected = expected_simresults(argument, table, data_file, printed_list, replayed, recorded,
                                   samples_values)
    if sim_text is not None:
        scratch = Comparison(comparison.label)
        scratch.lines("simresults", expected, sim_text, recorded)
        recorded = {k: v for k, v in recorded.items() if k.endswith(".psex")}
        expected = expected_simresults(argument, table, data_file, printed_list, replayed,
                                       recorded, samples_values)
        comparison.lines("simulation results file", expected, sim_text, recorded)
    if full_text is not None:
        comparison.lines("full table file",
                         expected_fulltable(argument, table, recorded, printed_list, replayed,
                                            samples_values),
                         full_text, {})
    if samples_text is not None:
        seen = {}
        comparison.lines("samples file",
                         expected_samples(table, recorded, printed_list, replayed,
                                          samples_values, seen),
                         samples_text, seen)
    if summary_text is not None:
        comparison.lines("summary file",
                         expected_summary(table, printed_list, replayed, samples_values),
                         summary_text, {})
    if distances_text is not None:
        comparison.lines("distances file", expected_distances(table), distances_text, {})
    check_analysis_files(comparison, table, analysis_texts or {}, summary_text)


# --------------------------------------------------------------------------
# Analyses switched on by header keys, each off without its key:
#   LINKAGE=<P>          index of association and rbarD (linkage_<run>.csv)
#   LOCICURVE=<R>        the genotype accumulation curve (loci_<run>.csv)
#   MLLMETHOD=<m>        lineages by AVERAGE or FARTHEST linkage
#   RAREFY=<n>           expected units in n samples (summary emlg, emlg_se)
#   COORDINATES=<x>,<y>  clonal subrange, aggregation and kinship by distance
#                        (spatial_<run>.csv, kinship_<run>.csv, summary
#                        rows), with SPATIAL=<P> permutations and
#                        SPATIALCLASSES=<d1>,... distance classes.
#
# What is exact and what is compared within a tolerance:
# * exact (the one double of the prescribed evaluation order): I_A, rbarD,
#   their p-values, the curve's quartiles and means, subranges and their
#   mean, Psp, Psg, Ac and its p-value, the largest distance of a class;
# * within a stated tolerance of an exact (rational, or exactly summed)
#   value: emlg and emlg_se (the program multiplies in long double), the
#   mean distance and mean kinship of a class, the kinship slope, sp and
#   F1 (the order inside a kinship sum is the program's own).  Where the
#   program must give one double twice (F1 in the summary and in the
#   kinship file; sp from the printed slope and F1), that is exact too.
# --------------------------------------------------------------------------

ANALYSIS_PREFIXES = ("linkage_", "loci_", "spatial_", "kinship_")
LINKAGE_HEADER = "data,samples,loci,left_out,ia,p_ia,rbarD,p_rbarD,permutations"
LOCICURVE_HEADER = "loci,subsets,mlg_min,mlg_q25,mlg_median,mlg_q75,mlg_max,mlg_mean"
SPATIAL_HEADER = "unit,id,n,located,subrange"
KINSHIP_HEADER = "level,class,max_distance,mean_distance,pairs,kinship"
MLL_METHODS = ("NEAREST", "AVERAGE", "FARTHEST")
# The unit roundoff of a double.
UNIT_ROUNDOFF = 2.0 ** -53
# Beyond these sizes the checker does not derive (its Python would take too
# long); every size below fits the program's memory bounds too.
AGGLOMERATIVE_LIMIT = 2000     # MLGs clustered by AVERAGE or FARTHEST
LINKAGE_WORK_LIMIT = 60_000_000
CURVE_WORK_LIMIT = 50_000_000
SPATIAL_LOCATED_LIMIT = 1500   # located samples (pairs in proportion to the square)
SPATIAL_PERMUTATION_LIMIT = 20_000_000  # permutations x located samples
RAREFY_SAMPLES_LIMIT = 20000


def seed_of(text):
    """A random source's seed: eight ASCII bytes read as a big-endian
    64-bit number (as the reference pairs' "psex ref")."""
    data = text.encode("ascii")
    assert len(data) == 8
    return int.from_bytes(data, "big")


LINKAGE_SEED = seed_of("psex ld ")
LOCICURVE_SEED = seed_of("psex cur")
SPATIAL_SEED = seed_of("psex spa")
GOLDEN_GAMMA = 0x9E3779B97F4A7C15


def stream_at(seed, position):
    """splitmix64 from 'seed' after 'position' draws: its state is then seed
    + position x gamma (mod 2^64), so any draw is reached at once."""
    return SplitMix64((seed + position * GOLDEN_GAMMA) % 2 ** 64)


def random_index(x, m):
    """An index in [0, m) from the 64-bit draw x: floor(x m / 2^64)."""
    return (x * m) >> 64


def shuffled_order(generator, n):
    """Fisher-Yates from the identity order of n items: for i = n - 1 down
    to 1, t = random_index(draw, i + 1), swap i and t (n - 1 draws)."""
    order = list(range(n))
    for i in range(n - 1, 0, -1):
        t = random_index(generator(), i + 1)
        order[i], order[t] = order[t], order[i]
    return order


def draws_of_shuffle(n):
    """The draws one shuffle of n items takes (none for 0 or 1 item)."""
    return max(n - 1, 0)


# --------------------------------------------------------------------------
# The keys' values.
# --------------------------------------------------------------------------


class AnalysisSettings:
    """What the analysis keys of one header ask for."""

    def __init__(self):
        self.linkage = None          # LINKAGE: permutations
        self.loci_curve = None       # LOCICURVE: subsets per number of loci
        self.mll_method = "NEAREST"  # MLLMETHOD
        self.rarefy = None           # RAREFY: the subsample's size
        self.coordinates = None      # COORDINATES: the x and y column names
        self.located = False         # coordinates are read (their columns are in place)
        self.spatial = 0             # SPATIAL: permutations of the aggregation test
        self.spatial_classes = None  # SPATIALCLASSES: upper bounds, else ten classes


def header_whole_number(value, least):
    """A whole-number key value as MLLDISTANCE is read: digits only (no
    sign, no space), saturated at 2^31 - 1; None when it is not that or is
    below 'least'."""
    if re.fullmatch(r"[0-9]+", value) is None:
        return None
    number = min(int(value), INT32_MAX)
    return number if number >= least else None


# A coordinate or a class bound: a decimal number with a decimal point
# (optional sign, digits with an optional fraction, or a fraction alone,
# optional exponent), as std::from_chars reads one (which takes no '+': the
# program skips it first).  No inf, nan, hexadecimal or decimal comma.
DECIMAL = re.compile(r"[+-]?([0-9]+(\.[0-9]*)?|\.[0-9]+)([eE][+-]?[0-9]+)?")


def decimal_of(text):
    """The double of a decimal cell after trimming spaces, or None when it
    is not usable: not of the DECIMAL form, or out of the double's range
    (std::from_chars reports a value that rounds to infinity, or a non-zero
    one that rounds to zero, as out of range; subnormal values it takes)."""
    cell = text.strip(" ")
    if DECIMAL.fullmatch(cell) is None:
        return None
    value = float(cell)
    if math.isinf(value):
        return None
    mantissa = re.split(r"[eE]", cell)[0]
    if value == 0.0 and re.search(r"[1-9]", mantissa):
        return None
    return value


def sample_point(x_cell, y_cell):
    """A sample's (x, y), or None when either cell is not usable."""
    x, y = decimal_of(x_cell), decimal_of(y_cell)
    return None if x is None or y is None else (x, y)


def class_bounds(value):
    """SPATIALCLASSES: upper bounds separated by commas, each a decimal
    (spaces around it trimmed) above 0, strictly ascending; None when the
    value is not that."""
    bounds = [decimal_of(piece) for piece in value.split(",")]
    if any(b is None or not b > 0.0 for b in bounds):
        return None
    if any(later <= earlier for earlier, later in zip(bounds, bounds[1:])):
        return None
    return bounds


def interpret_analysis_keys(params, errors):
    """The analysis keys, read after MLLDISTANCE and before the defaults'
    messages, in the order LINKAGE, LOCICURVE, MLLMETHOD, RAREFY,
    COORDINATES, SPATIAL, SPATIALCLASSES; a value that is not accepted gets
    one message (standard error lines appended to 'errors') and the key is
    taken as absent.  MLLMETHOD, SPATIAL and SPATIALCLASSES with an accepted
    value but without the key they refine (MLLDISTANCE, COORDINATES) are
    said to have no effect."""
    settings = AnalysisSettings()

    def number(key, least, consequence):
        value = params[key]
        result = header_whole_number(value, least)
        if result is None:
            errors.append("warning: %s '%s' is not a whole number >= %d; %s"
                          % (key, value, least, consequence))
        return result

    if "LINKAGE" in params:
        settings.linkage = number("LINKAGE", 0, "no linkage analysis is run.")
    if "LOCICURVE" in params:
        settings.loci_curve = number("LOCICURVE", 1, "no locus accumulation curve is made.")
    if "MLLMETHOD" in params:
        value = params["MLLMETHOD"]
        if value in MLL_METHODS:
            settings.mll_method = value
            if "MLLDISTANCE" not in params:
                errors.append("warning: MLLMETHOD has no effect without MLLDISTANCE.")
        else:
            errors.append("warning: MLLMETHOD '%s' is not NEAREST, AVERAGE or FARTHEST; "
                          "using NEAREST." % value)
    if "RAREFY" in params:
        settings.rarefy = number("RAREFY", 1, "no rarefaction is done.")
    if "COORDINATES" in params:
        value = params["COORDINATES"]
        names = value.split(",")
        if len(names) == 2 and all(names):
            settings.coordinates = (names[0], names[1])
        else:
            errors.append("error: COORDINATES '%s' is not two column names separated by a "
                          "comma; no coordinates are read." % value)
    if "SPATIAL" in params:
        permutations = number("SPATIAL", 0, "no permutation test of aggregation is run.")
        if permutations is not None:
            settings.spatial = permutations
            if "COORDINATES" not in params:
                errors.append("warning: SPATIAL has no effect without COORDINATES.")
    if "SPATIALCLASSES" in params:
        value = params["SPATIALCLASSES"]
        bounds = class_bounds(value)
        if bounds is None:
            errors.append("warning: SPATIALCLASSES '%s' is not a list of ascending distances "
                          "above 0; using ten classes of equal pair counts." % value)
        else:
            settings.spatial_classes = bounds
            if "COORDINATES" not in params:
                errors.append("warning: SPATIALCLASSES has no effect without COORDINATES.")
    return settings


def coordinate_columns_problem(data_file, width, settings):
    """With COORDINATES naming x and y: None when the column line has x at
    position width + 1 and y at width + 2 (the name's position as the
    reader keeps it: its later one when repeated), and coordinates are read
    (settings.located); else the message, and the table is read as if the
    key were absent."""
    if settings.coordinates is None:
        return None
    x, y = settings.coordinates
    names = data_file.column_names
    if names.get(x) == width + 1 and names.get(y) == width + 2:
        settings.located = True
        return None
    return ("error: COORDINATES names '%s' and '%s', which are not the two columns after the "
            "alleles." % (x, y))


def analysis_prefixes(table):
    """The analyses' files that a run on 'table' writes, in order."""
    prefixes = ()
    if table.analysis.linkage is not None:
        prefixes += ("linkage_",)
    if table.analysis.loci_curve is not None:
        prefixes += ("loci_",)
    if table.analysis.located:
        prefixes += ("spatial_", "kinship_")
    return prefixes


def lineages_formed(table):
    """Whether MLLDISTANCE forms lineages (then unit mll has rows of its
    own in the spatial file and its own permutations)."""
    return table.mll_distance is not None


# --------------------------------------------------------------------------
# LINKAGE: the index of association I_A and rbarD.
# --------------------------------------------------------------------------


def copies_apart(first, second):
    """The allele copies in which two genotypes of one locus differ: the
    ploidy minus the size of the multiset intersection (as the lineages'
    distance counts them)."""
    rest = list(second)
    shared = 0
    for allele in first:
        if allele in rest:
            rest.remove(allele)
            shared += 1
    return len(first) - shared


def genotype_features(copies):
    """The features (a, r), 'holds at least r copies of allele a', of one
    locus's genotype: two genotypes share as many copies as they have
    features in common (sum over a of min(r_a, r'_a)), which makes the
    shared copies of a pair a dot product of 0/1 vectors."""
    seen = {}
    features = []
    for allele in copies:
        seen[allele] = seen.get(allele, 0) + 1
        features.append((allele, seen[allele]))
    return features


class LinkageData:
    """The genotypes of the samples analysed, locus by locus as codes of
    their distinct genotypes there, with the distances between codes and
    the observed sums: S1_j, S2_j (the sum over pairs of d_j and of d_j^2)
    and S1, S2 (of D = sum_j d_j and of D^2), exact integers."""

    def __init__(self, genotypes, loci, ploidy):
        self.n = len(genotypes)
        self.loci = loci
        self.ploidy = ploidy
        self.pairs = self.n * (self.n - 1) // 2
        self.codes = []
        self.apart = []
        self.features = []
        for j in range(loci):
            kinds = {}
            self.codes.append([kinds.setdefault(tuple(g[ploidy * j:ploidy * (j + 1)]), len(kinds))
                               for g in genotypes])
            listed = list(kinds)
            self.apart.append([[copies_apart(x, y) for y in listed] for x in listed])
            self.features.append([genotype_features(x) for x in listed])
        self.s1j, self.s2j, self.s1, self.s2 = self.plain_sums(self.codes)

    def plain_sums(self, codes):
        """The four sums pair by pair (the definition itself)."""
        s1j = [0] * self.loci
        s2j = [0] * self.loci
        s1 = s2 = 0
        for a in range(self.n):
            for b in range(a + 1, self.n):
                total = 0
                for j in range(self.loci):
                    d = self.apart[j][codes[j][a]][codes[j][b]]
                    s1j[j] += d
                    s2j[j] += d * d
                    total += d
                s1 += total
                s2 += total * total
        return s1j, s2j, s1, s2

    def square_sum(self, codes):
        """S2 of the samples carrying the genotype codes 'codes' (one list
        per locus, a shuffle of self.codes), by loci pairs: S2 = sum_j S2_j
        + 2 sum_{j<k} X_jk, X_jk = sum over pairs of d_j d_k.  With s = p - d
        the shared copies (p the ploidy), sum over pairs of s_j = p P - S1_j
        (P pairs), and sum over pairs of s_j s_k = sum over feature pairs
        (f at j, f' at k) of C(m, 2), m the samples holding both; a shuffle
        leaves S1_j and S2_j as they are."""
        p = self.ploidy
        pairs = self.pairs
        total = sum(self.s2j)
        for j in range(self.loci):
            for k in range(j + 1, self.loci):
                together = {}
                for (g, h), count in collections.Counter(zip(codes[j], codes[k])).items():
                    for f in self.features[j][g]:
                        for f2 in self.features[k][h]:
                            together[(f, f2)] = together.get((f, f2), 0) + count
                shared = sum(m * (m - 1) // 2 for m in together.values())
                cross = (p * p * pairs - p * (p * pairs - self.s1j[j])
                         - p * (p * pairs - self.s1j[k]) + shared)
                total += 2 * cross
        return total

    def shuffled_codes(self, generator):
        """One permutation: each locus in order shuffled from the identity
        (shuffled_order); sample s then carries at locus j the genotype of
        sample order_j[s]."""
        result = []
        for j in range(self.loci):
            order = shuffled_order(generator, self.n)
            result.append([self.codes[j][o] for o in order])
        return result


def association_indices(data):
    """I_A and rbarD of 'data' (None, None when fewer than two samples or
    fewer than two loci vary), in the evaluation order the program uses:
    Nj = P S2_j - S1_j^2 and N_D = P S2 - S1^2 exact integers; var_j =
    double(Nj) / (double(P) double(P)); ia = double(N_D) / double(sum Nj)
    - 1; rbarD = double(N_D - sum Nj) / (double(P) double(P)) / (2 sum_{j<k}
    sqrt(var_j var_k)), the sum accumulated in double, j outer ascending, k
    inner ascending."""
    pairs = data.pairs
    if data.n < 2:
        return None, None
    nj = [pairs * s2 - s1 * s1 for s1, s2 in zip(data.s1j, data.s2j)]
    if sum(1 for v in nj if v > 0) < 2:
        return None, None
    nd = pairs * data.s2 - data.s1 * data.s1
    total = sum(nj)
    square = float(pairs) * float(pairs)
    variances = [float(v) / square for v in nj]
    roots = 0.0
    for j in range(len(variances)):
        for k in range(j + 1, len(variances)):
            roots += math.sqrt(variances[j] * variances[k])
    ia = float(nd) / float(total) - 1.0
    rbar_d = float(nd - total) / square / (2.0 * roots)
    return ia, rbar_d


def linkage_count(data, permutations, generator):
    """How many of 'permutations' shuffles (drawn from 'generator') give an
    S2 at least the observed one: exactly the permutations whose I_A (and
    rbarD) is at least the observed, as the shuffles leave everything else
    of both alone."""
    count = 0
    for _ in range(permutations):
        if data.square_sum(data.shuffled_codes(generator)) >= data.s2:
            count += 1
    return count


def linkage_rows(table, permutations, stream=None):
    """The rows of linkage_<run>.csv (without the header).  Samples typed
    at every copy of every locus, in data-file order; clone-corrected: the
    first of them of each MLG.  Permutation r of 'all' starts at draw r L
    (n_all - 1) of the stream "psex ld ", those of 'clone_corrected' after
    all P of 'all', at P L (n_all - 1) + r L (n_cc - 1), whether or not the
    'all' ones were needed (no draws for fewer than two samples).  'stream'
    gives a generator at a draw position (default: stream_at)."""
    if stream is None:
        def stream(position):
            return stream_at(LINKAGE_SEED, position)
    loci = len(table.locus_names)
    ploidy = table.ploidy

    def typed(alleles):
        return table.missing is None or table.missing not in alleles
    every = [a for a in table.sample_alleles if typed(a)]
    firsts = []
    seen = set()
    for alleles in every:
        if alleles not in seen:
            seen.add(alleles)
            firsts.append(alleles)
    rows = []
    start = 0
    for label, genotypes, left_out in (
            ("all", every, table.n_samples - len(every)),
            ("clone_corrected", firsts, len(table.mlgs) - len(firsts))):
        n = len(genotypes)
        work = n * n * loci + permutations * loci * (loci + 2) * n
        if work > LINKAGE_WORK_LIMIT:
            raise Unsupported("LINKAGE=%d on %d samples at %d loci is too much to replay"
                              % (permutations, n, loci))
        data = LinkageData(genotypes, loci, ploidy)
        ia, rbar_d = association_indices(data)
        p_value = None
        if ia is not None and permutations > 0:
            count = linkage_count(data, permutations, stream(start))
            p_value = float(1 + count) / float(permutations + 1)
        rows.append("%s,%d,%d,%d,%s,%s,%s,%s,%d" % (
            label, n, loci, left_out, na_or_shortest(ia), na_or_shortest(p_value),
            na_or_shortest(rbar_d), na_or_shortest(p_value), permutations))
        start += permutations * loci * draws_of_shuffle(n)
    return rows


def na_or_shortest(value):
    return "NA" if value is None else shortest(value)


# --------------------------------------------------------------------------
# LOCICURVE: MLGs found on k loci.
# --------------------------------------------------------------------------


def drawn_subset(generator, loci, k):
    """k distinct loci by a partial Fisher-Yates on a fresh identity array:
    for t = 0..k-1, u = t + random_index(draw, L - t), swap t and u."""
    index = list(range(loci))
    for t in range(k):
        u = t + random_index(generator(), loci - t)
        index[t], index[u] = index[u], index[t]
    return index[:k]


def type7_quantile(values, p):
    """R's default quantile of the ascending 'values' (at least one): h =
    (m - 1) p in double; x[lo] where h is whole or x[lo] = x[hi], else
    (1 - (h - lo)) x[lo] + (h - lo) x[hi]."""
    h = float(len(values) - 1) * p
    lo, hi = math.floor(h), math.ceil(h)
    x_lo, x_hi = float(values[lo]), float(values[hi])
    if h == lo or x_hi == x_lo:
        return x_lo
    return (1.0 - (h - lo)) * x_lo + (h - lo) * x_hi


def accumulation_rows(table, wanted, generator=None):
    """The rows of loci_<run>.csv: for k = 1..L every k-subset of loci when
    there are at most 'wanted' of them (no draws), else 'wanted' subsets
    drawn from "psex cur" (draws in order of k, then subset); for each, the
    number of distinct genotypes of all samples on those loci (the stored
    codes, missing copies included)."""
    if generator is None:
        generator = SplitMix64(LOCICURVE_SEED)
    loci = len(table.locus_names)
    ploidy = table.ploidy
    genotypes = list(table.mlgs)
    work = sum(min(math.comb(loci, k), wanted) * k for k in range(1, loci + 1)) * \
        max(len(genotypes), 1)
    if work > CURVE_WORK_LIMIT:
        raise Unsupported("LOCICURVE=%d at %d loci is too much to replay" % (wanted, loci))
    rows = []
    for k in range(1, loci + 1):
        if math.comb(loci, k) <= wanted:
            subsets = list(itertools.combinations(range(loci), k))
        else:
            subsets = [drawn_subset(generator, loci, k) for _ in range(wanted)]
        counts = sorted(len({tuple(g[ploidy * j + c] for j in subset for c in range(ploidy))
                             for g in genotypes}) for subset in subsets)
        m = len(counts)
        rows.append("%d,%d,%d,%s,%s,%s,%d,%s" % (
            k, m, counts[0], shortest(type7_quantile(counts, 0.25)),
            shortest(type7_quantile(counts, 0.5)), shortest(type7_quantile(counts, 0.75)),
            counts[-1], shortest(float(sum(counts)) / float(m))))
    return rows


# --------------------------------------------------------------------------
# MLLMETHOD: AVERAGE and FARTHEST linkage.
# --------------------------------------------------------------------------


def agglomerative_lineages(count, distances, k, method):
    """Lineages of 'count' MLGs (table order) by AVERAGE or FARTHEST
    linkage: a lineage is numbered by the table index of its first MLG;
    repeatedly the pair (a, b), a < b, with the smallest linkage value
    (ties to the smallest (a, b)) is merged into a while that value is at
    most k.  AVERAGE: the sum of the MLG-to-MLG distances over their
    number, an exact fraction; FARTHEST: the largest.  'distances' maps (i,
    j), i < j, to the distance.  Returns, per MLG, its lineage's number (a
    union-find parent list whose roots are their own parents).

    A heap of (value, a, b) with the versions of a and b: merging a and b
    changes only the values of the pairs with a (b is gone), so the other
    entries stay right."""
    average = method == "AVERAGE"
    link = {}
    heap = []
    for (a, b), d in distances.items():
        value = (d, 1) if average else d
        link[(a, b)] = value
        heap.append((Fraction(d) if average else d, a, b, 0, 0))
    heapq.heapify(heap)
    alive = [True] * count
    version = [0] * count
    members = [[i] for i in range(count)]
    while heap:
        value, a, b, version_a, version_b = heapq.heappop(heap)
        if not (alive[a] and alive[b] and version[a] == version_a and version[b] == version_b):
            continue
        if value > k:
            break
        alive[b] = False
        version[a] += 1
        members[a] += members[b]
        members[b] = []
        for c in range(count):
            if c == a or not alive[c]:
                continue
            with_a = (min(a, c), max(a, c))
            first, second = link.pop(with_a), link.pop((min(b, c), max(b, c)))
            if average:
                merged = (first[0] + second[0], first[1] + second[1])
                key = Fraction(merged[0], merged[1])
            else:
                merged = key = max(first, second)
            link[with_a] = merged
            heapq.heappush(heap, (key, with_a[0], with_a[1], version[with_a[0]],
                                  version[with_a[1]]))
    lineage = list(range(count))
    for a in range(count):
        for i in members[a]:
            lineage[i] = a
    return lineage


# --------------------------------------------------------------------------
# RAREFY: expected units in a subsample (Heck, van Belle & Simberloff 1975).
# --------------------------------------------------------------------------


class Rarefaction:
    """The expected number of units in n samples drawn without replacement
    from units of 'sizes' (N samples): sum_i [1 - q(N_i)], q(s) = C(N - s,
    n) / C(N, n), and its variance sum_i q_i (1 - q_i) + 2 sum_{i<j}
    (q(N_i + N_j) - q_i q_j), both exact fractions (None when n > N).

    The program forms q as a long double product of n quotients, rounds it
    to double and sums in double (by unit or by size); the bounds below
    allow for that: each q within eps = 2n 2^-64 + 2^-53 relative, each sum
    of K terms within K 2^-53 of the sum of its magnitudes, and twice that.
    At n = 1 and n = N both are exact (emlg 1 resp. the number of units, SE
    0), as the program makes them."""

    def __init__(self, sizes, n):
        total = sum(sizes)
        self.n = n
        self.units = len(sizes)
        self.exact_ends = n == 1 or n == total
        if n > total:
            self.emlg = self.variance = None
            return
        if total > RAREFY_SAMPLES_LIMIT:
            raise Unsupported("RAREFY on %d samples is too much to derive exactly" % total)
        whole = math.comb(total, n)

        def q(s):
            # A pair of units larger together than all the samples (two
            # halves of the table, or one unit with itself) is never missed.
            if s > total:
                return Fraction(0)
            return Fraction(math.comb(total - s, n), whole)
        groups = sorted(collections.Counter(sizes).items())
        qs = {s: q(s) for s, _ in groups}
        self.emlg = sum(c * (1 - qs[s]) for s, c in groups)
        single = sum(c * qs[s] * (1 - qs[s]) for s, c in groups)
        pair = Fraction(0)
        pair_q = pair_product = Fraction(0)  # magnitudes
        for x, (s, c) in enumerate(groups):
            for t, d in groups[x:]:
                times = c * (c - 1) // 2 if s == t else c * d
                joint = q(s + t)
                pair += times * (joint - qs[s] * qs[t])
                pair_q += times * joint
                pair_product += times * qs[s] * qs[t]
        self.variance = single + 2 * pair
        eps = 2 * n * 2.0 ** -64 + UNIT_ROUNDOFF
        terms = len(groups) ** 2 + self.units + 4
        q_sum = float(sum(c * qs[s] for s, c in groups))
        emlg = float(self.emlg)
        self.emlg_tolerance = 2 * (q_sum * eps + (self.units + 2) * UNIT_ROUNDOFF * emlg
                                   + self.units * UNIT_ROUNDOFF)
        magnitude = float(single) + 2 * (float(pair_q) + float(pair_product))
        self.variance_tolerance = 2 * (4 * eps * q_sum
                                       + 2 * eps * (float(pair_q) + 3 * float(pair_product))
                                       + terms * UNIT_ROUNDOFF * magnitude
                                       + UNIT_ROUNDOFF * abs(float(self.variance)))

    def emlg_check(self, what):
        if self.emlg is None:
            return exact_text_check("NA", what)
        if self.exact_ends:
            return exact_text_check(shortest(float(self.emlg)), what)
        return within_check(float(self.emlg), self.emlg_tolerance, what)

    def se_check(self, what):
        if self.emlg is None:
            return exact_text_check("NA", what)
        if self.exact_ends:
            return exact_text_check("0", what)
        variance = float(self.variance)
        lo = math.sqrt(max(variance - self.variance_tolerance, 0.0)) * (1 - 4 * UNIT_ROUNDOFF)
        hi = math.sqrt(variance + self.variance_tolerance) * (1 + 4 * UNIT_ROUNDOFF)
        return interval_check(lo, hi, "sqrt(%r)" % variance, what)


def exact_text_check(expected, what):
    def check(text):
        return None if text == expected else "%s: expected %s" % (what, expected)
    return check


def interval_check(lo, hi, describe, what):
    """A number in shortest form whose double lies in [lo, hi]."""
    def check(text):
        try:
            value = float(text)
        except ValueError:
            return "%s: %r is no number (expected %s)" % (what, text, describe)
        if text != shortest(value):
            return "%s: %r is not the shortest form of %s" % (what, text, shortest(value))
        if not lo <= value <= hi:
            return "%s: %s is not within [%r, %r] (%s)" % (what, text, lo, hi, describe)
        return None
    return check


def within_check(value, tolerance, what):
    """A number in shortest form within 'tolerance' of 'value' (NA for
    None, and for a value beyond the doubles, which the program writes as
    NA like every number that is not finite: a mean of distances that
    overflow)."""
    if value is None or not math.isfinite(value):
        return exact_text_check("NA", what)
    return interval_check(value - tolerance, value + tolerance,
                          "%r within %.3g" % (value, tolerance), what)


# --------------------------------------------------------------------------
# COORDINATES: clonal subrange and aggregation (Arnaud-Haond et al. 2007).
# --------------------------------------------------------------------------


def squared_distance(first, second):
    """q = dx dx + dy dy in double (no fused multiply-add): the program
    compares distances by q and takes d = sqrt(q)."""
    dx = first[0] - second[0]
    dy = first[1] - second[1]
    return dx * dx + dy * dy


def neighbour_share(neighbours, labels):
    """Psp: for each located sample its nearest neighbours (all at the
    smallest q), c of them, s sharing its label; S_c = the sum of s over
    samples with c neighbours; Psp = (sum over c ascending of double(S_c) /
    double(c)) / double(n)."""
    by_count = {}
    for a, nearest in enumerate(neighbours):
        same = sum(1 for b in nearest if labels[b] == labels[a])
        by_count[len(nearest)] = by_count.get(len(nearest), 0) + same
    total = 0.0
    for c in sorted(by_count):
        total += float(by_count[c]) / float(c)
    return total / float(len(neighbours))


class UnitSpatial:
    """The spatial statistics of one kind of unit (MLGs or MLLs): each
    unit's samples, located samples and subrange, their largest and mean
    subrange, Ac and its p-value."""

    def __init__(self, spatial, unit, sizes, label_of, start):
        table = spatial.table
        self.unit = unit
        located_labels = [label_of(table.sample_alleles[i]) for i in spatial.located]
        farthest = {}
        located = collections.Counter(located_labels)
        for a in range(len(located_labels)):
            for b in range(a + 1, len(located_labels)):
                if located_labels[a] == located_labels[b]:
                    q = squared_distance(spatial.points[a], spatial.points[b])
                    label = located_labels[a]
                    farthest[label] = max(farthest.get(label, q), q)
        self.rows = []
        self.subranges = []  # in id order
        for number, size in enumerate(sizes, start=1):
            subrange = math.sqrt(farthest[number]) if number in farthest else None
            if subrange is not None:
                self.subranges.append(subrange)
            self.rows.append("%s,%d,%d,%d,%s" % (unit, number, size, located[number],
                                                 na_or_shortest(subrange)))
        self.subrange_max = max(self.subranges) if self.subranges else None
        self.subrange_mean = None
        if self.subranges:
            total = 0.0
            for s in self.subranges:
                total += s
            self.subrange_mean = total / float(len(self.subranges))
        n = len(located_labels)
        self.ac = self.p_value = None
        if n >= 2:
            same_pairs = sum(c * (c - 1) // 2 for c in located.values())
            psg = float(same_pairs) / float(n * (n - 1) // 2)
            if psg != 1.0:
                psp = neighbour_share(spatial.neighbours, located_labels)
                self.ac = (psp - psg) / (1.0 - psg)
                permutations = table.analysis.spatial
                if permutations > 0:
                    generator = spatial.stream(start)
                    count = 0
                    for _ in range(permutations):
                        order = shuffled_order(generator, n)
                        if neighbour_share(spatial.neighbours,
                                           [located_labels[o] for o in order]) >= psp:
                            count += 1
                    self.p_value = float(1 + count) / float(permutations + 1)

    def summary_rows(self, unit):
        return ["subrange_max,%s,%s" % (unit, na_or_shortest(self.subrange_max)),
                "subrange_mean,%s,%s" % (unit, na_or_shortest(self.subrange_mean)),
                "aggregation_Ac,%s,%s" % (unit, na_or_shortest(self.ac)),
                "aggregation_p,%s,%s" % (unit, na_or_shortest(self.p_value))]


class SpatialAnalysis:
    """The located samples of a table (data-file order), their nearest
    neighbours, and the statistics of MLGs and (when MLLDISTANCE forms
    lineages) of MLLs.  SPATIAL=<P>: unit labels shuffled among the located
    samples P times from "psex spa" (shuffled_order, n - 1 draws each), the
    MLG labels first, the MLL labels from draw P (n - 1) on; without
    lineages unit mll repeats unit mlg."""

    def __init__(self, table, stream=None):
        self.table = table
        self.stream = stream or (lambda position: stream_at(SPATIAL_SEED, position))
        self.located = [i for i, point in enumerate(table.coordinates) if point is not None]
        n = len(self.located)
        if n > SPATIAL_LOCATED_LIMIT:
            raise Unsupported("%d located samples are too many to derive spatially" % n)
        if table.analysis.spatial * n > SPATIAL_PERMUTATION_LIMIT:
            raise Unsupported("SPATIAL=%d on %d located samples is too much to replay"
                              % (table.analysis.spatial, n))
        self.points = [table.coordinates[i] for i in self.located]
        self.neighbours = []
        for a in range(n):
            smallest = None
            nearest = []
            for b in range(n):
                if b == a:
                    continue
                q = squared_distance(self.points[a], self.points[b])
                if smallest is None or q < smallest:
                    smallest, nearest = q, [b]
                elif q == smallest:
                    nearest.append(b)
            self.neighbours.append(nearest)
        mlg_sizes = [len(table.mlgs[a]) for a in table.order]
        self.mlg = UnitSpatial(self, "mlg", mlg_sizes, lambda a: table.number[a], 0)
        self.mll = self.mlg
        if lineages_formed(table):
            self.mll = UnitSpatial(self, "mll", table.lineage_sizes, lambda a: table.lineage[a],
                                   table.analysis.spatial * draws_of_shuffle(n))

    def expected_file(self):
        lines = [SPATIAL_HEADER] + self.mlg.rows
        if self.mll is not self.mlg:
            lines += self.mll.rows
        return lines


# --------------------------------------------------------------------------
# COORDINATES: kinship by distance (Loiselle et al. 1995; Sp of Vekemans &
# Hardy 2004).
# --------------------------------------------------------------------------


class KinshipSet:
    """One set of located samples (data-file order) with its own allele
    frequencies.  A sample is typed at a locus when none of its copies
    there is missing (as for distances, Ho and linkage); p_a and n_l count
    the copies of the set's samples typed at l, x_ia = (copies of a in i) /
    ploidy; a locus with n_l < 2 is left out.  With c_ia i's copies of a, C_a
    the set's and P the ploidy, (x_ia - p_a) = u_ia / (P n_l) with the
    integer u_ia = c_ia n_l - C_a P, and sum_a p_a (1 - p_a) = B_l / n_l^2
    with B_l = sum_a C_a (n_l - C_a): the kinship of a pair is a ratio of
    integers over a denominator per locus, computed exactly."""

    def __init__(self, table, members):
        ploidy = table.ploidy
        self.ploidy = ploidy
        self.members = members
        self.loci = []  # (n_l, B_l, allele counts C_a, {sample: u vector})
        for j in range(len(table.locus_names)):
            typed = [i for i in members
                     if not missing_at(table.sample_alleles[i], ploidy, j, table.missing)]
            counts = collections.Counter(
                a for i in typed for a in table.sample_alleles[i][ploidy * j:ploidy * (j + 1)])
            copies = ploidy * len(typed)
            if copies < 2:
                continue
            alleles = sorted(counts)
            b = sum(c * (copies - c) for c in counts.values())
            vectors = {}
            for i in typed:
                own = collections.Counter(table.sample_alleles[i][ploidy * j:ploidy * (j + 1)])
                vectors[i] = [own.get(a, 0) * copies - counts[a] * ploidy for a in alleles]
            self.loci.append((copies, b, [counts[a] for a in alleles], vectors))

    def kinship(self, i, j):
        """(F_ij as an exact fraction or None, the magnitude of its terms
        over the denominator, plus |F|, and the number of allele terms).
        The magnitude sums |(x_i - p)(x_j - p)|, p (1 - p) / (n - 1) and p
        (|x_i - p| + |x_j - p|): the last bounds what the rounding of p does
        to a product whose factors nearly cancel."""
        ploidy2 = self.ploidy * self.ploidy
        numerators = {}
        denominators = {}
        size = 0.0
        terms = 0
        for copies, b, counts, vectors in self.loci:
            first, second = vectors.get(i), vectors.get(j)
            if first is None or second is None:
                continue
            products = [x * y for x, y in zip(first, second)]
            # numerator: sum u u / (P^2 n^2) + B / (n^2 (n - 1)); denominator
            # B / n^2; both over P^2 n^2 (n - 1).
            common = ploidy2 * copies * copies * (copies - 1)
            numerators[common] = numerators.get(common, 0) + sum(products) * (copies - 1) + \
                b * ploidy2
            denominators[common] = denominators.get(common, 0) + b * ploidy2 * (copies - 1)
            size += (sum(abs(v) for v in products) * (copies - 1) + b * ploidy2) / common
            size += sum(c * (abs(x) + abs(y)) for c, x, y in zip(counts, first, second)) / (
                self.ploidy * copies * copies)
            terms += len(counts)
        if not any(denominators.values()):
            return None, 0.0, terms
        if len(numerators) == 1:
            (common, numerator), = numerators.items()
            value = Fraction(numerator, denominators[common])
        else:
            value = sum(Fraction(v, c) for c, v in numerators.items()) / \
                sum(Fraction(v, c) for c, v in denominators.items())
        denominator = float(sum(Fraction(v, c) for c, v in denominators.items()))
        return value, size / denominator + abs(float(value)), terms


class KinshipPair:
    def __init__(self, i, j, q, kinship):
        self.i, self.j, self.q = i, j, q
        self.d = math.sqrt(q)
        self.exact, size, terms = kinship
        self.f = None if self.exact is None else float(self.exact)
        # How far the program's double of F may lie from the exact value:
        # a sum of 2 K + 1 rounded terms over a sum of K, each rounded a few
        # times (twice the first-order bound).
        self.tolerance = 2 * (2 * terms + 16) * UNIT_ROUNDOFF * size


class KinshipLevel:
    """Kinship by distance for one set ('ramets' or 'genets'): its pairs i
    < j (data-file order), their classes, the class rows, F1, the slope b
    of F on ln d and Sp = -b / (1 - F1)."""

    def __init__(self, table, level, members):
        self.level = level
        self.f1_exact = None
        kin = KinshipSet(table, members)
        points = table.coordinates
        self.pairs = []
        for a, i in enumerate(members):
            for j in members[a + 1:]:
                self.pairs.append(KinshipPair(i, j, squared_distance(points[i], points[j]),
                                              kin.kinship(i, j)))
        bounds = table.analysis.spatial_classes
        if bounds is None:
            # Ten classes of equal counts: by (q, i, j); the first P mod 10
            # classes take one pair more.
            ordered = sorted(self.pairs, key=lambda p: (p.q, p.i, p.j))
            base, extra = divmod(len(ordered), 10)
            self.classes = []
            start = 0
            for c in range(10):
                size = base + 1 if c < extra else base
                self.classes.append(ordered[start:start + size])
                start += size
        else:
            # Class c holds d_{c-1} < d <= d_c (d_0 = -infinity); pairs beyond
            # the last bound are in no class.
            self.classes = [[] for _ in bounds]
            for pair in self.pairs:
                for c, bound in enumerate(bounds):
                    if pair.d <= bound:
                        self.classes[c].append(pair)
                        break
        self.class_values = [self.class_value(members) for members in self.classes]
        self.f1, self.f1_tolerance = self.class_values[0][2:4] if self.class_values else \
            (None, 0.0)
        self.slope, self.slope_tolerance = self.least_squares()
        self.sp = self.sp_tolerance = None
        if self.slope is not None and self.f1 is not None and self.f1_exact != 1:
            self.sp = -self.slope / (1.0 - self.f1)
            self.sp_tolerance = 2 * (self.slope_tolerance + abs(self.sp) * self.f1_tolerance) / \
                abs(1.0 - self.f1) + UNIT_ROUNDOFF * abs(self.sp)

    def class_value(self, members):
        """(mean distance, its tolerance, mean kinship, its tolerance) over
        the class's pairs with a defined F (None where none).  The
        references are exactly rounded sums (math.fsum) of d and of the
        correctly rounded F; the program may sum in any order: (m + 2)
        roundings of the mean, twice, plus the pairs' own tolerances."""
        defined = [p for p in members if p.f is not None]
        if members is self.classes[0]:
            self.f1_exact = sum(p.exact for p in defined) / len(defined) if defined else None
        if not defined:
            return None, 0.0, None, 0.0
        m = len(defined)
        mean_d = math.fsum(p.d for p in defined) / m
        d_tolerance = (2 * (m + 2) + 1) * UNIT_ROUNDOFF * mean_d
        mean_f = math.fsum(p.f for p in defined) / m
        size = math.fsum(abs(p.f) for p in defined) / m
        f_tolerance = math.fsum(p.tolerance for p in defined) / m + \
            (2 * (m + 2) + 2) * UNIT_ROUNDOFF * size
        return mean_d, d_tolerance, mean_f, f_tolerance

    def least_squares(self):
        """The slope of F on ln d over the pairs with d > 0 and a defined F,
        in (i, j) order: NA with fewer than two such pairs or when every ln
        d is the same (no spread; the rounding of a computed mean must not
        make one).  The reference is exact for the doubles ln d and F
        (integers over a common power of two); the tolerance allows the
        program's two passes in double (means, then sums of products) and
        its F within the pairs' tolerances."""
        used = [p for p in self.pairs if p.d > 0.0 and p.f is not None]
        xs = [math.log(p.d) for p in used]
        if len(used) < 2 or len(set(xs)) < 2:
            return None, 0.0
        if not all(math.isfinite(x) for x in xs):
            raise Unsupported("a distance too large for the kinship slope")
        ys = [p.f for p in used]
        m = len(used)
        scale_x = max(x.as_integer_ratio()[1] for x in xs)
        scale_y = max(y.as_integer_ratio()[1] for y in ys)
        big_x = [int(Fraction(x) * scale_x) for x in xs]
        big_y = [int(Fraction(y) * scale_y) for y in ys]
        sum_x, sum_y = sum(big_x), sum(big_y)
        sxy = m * sum(a * b for a, b in zip(big_x, big_y)) - sum_x * sum_y
        sxx = m * sum(a * a for a in big_x) - sum_x * sum_x
        slope = float(Fraction(sxy * scale_x, sxx * scale_y))
        mean_x = math.fsum(xs) / m
        mean_y = math.fsum(ys) / m
        spread = math.fsum((x - mean_x) ** 2 for x in xs)
        a = math.fsum(abs(x - mean_x) * (p.tolerance + UNIT_ROUNDOFF * abs(p.f))
                      for x, p in zip(xs, used))
        b = math.fsum((abs(x) + abs(mean_x)) * (abs(y) + abs(mean_y)) for x, y in zip(xs, ys))
        c = math.fsum((abs(x) + abs(mean_x)) ** 2 for x in xs)
        rounding = 4 * (m + 4) * UNIT_ROUNDOFF
        tolerance = 2 * (a + rounding * b + abs(slope) * rounding * c) / spread + \
            UNIT_ROUNDOFF * abs(slope)
        return slope, tolerance

    def expected_rows(self):
        rows = []
        for number, (members, values) in enumerate(zip(self.classes, self.class_values),
                                                   start=1):
            mean_d, d_tolerance, mean_f, f_tolerance = values
            what = "kinship %s class %d" % (self.level, number)
            largest = max((p.q for p in members), default=None)
            rows.append(Pattern(
                "%s,%d,%s," % (self.level, number,
                               na_or_shortest(None if largest is None else math.sqrt(largest))),
                Cell(within_check(mean_d, d_tolerance, what + " mean_distance")),
                ",%d," % len(members),
                Cell(within_check(mean_f, f_tolerance, what + " kinship"))))
        return rows

    def summary_rows(self):
        unit = self.level
        return [Pattern("sp,%s," % unit, Cell(within_check(self.sp, self.sp_tolerance or 0.0,
                                                           "sp (%s)" % unit))),
                Pattern("kinship_slope,%s," % unit,
                        Cell(within_check(self.slope, self.slope_tolerance,
                                          "kinship_slope (%s)" % unit))),
                Pattern("kinship_first_class,%s," % unit,
                        Cell(within_check(self.f1, self.f1_tolerance,
                                          "kinship_first_class (%s)" % unit)))]


def kinship_levels(table):
    """'ramets': every located sample; 'genets': the first located sample
    of each genet (its MLL when lineages are formed, else its MLG), both in
    data-file order."""
    located = [i for i, point in enumerate(table.coordinates) if point is not None]
    if len(located) > SPATIAL_LOCATED_LIMIT:
        raise Unsupported("%d located samples are too many for kinship" % len(located))
    genets = []
    seen = set()
    for i in located:
        genet = table.lineage[table.sample_alleles[i]]
        if genet not in seen:
            seen.add(genet)
            genets.append(i)
    return [KinshipLevel(table, "ramets", located), KinshipLevel(table, "genets", genets)]


# --------------------------------------------------------------------------
# The analyses' rows and files, and their checks.
# --------------------------------------------------------------------------


def analyses_of(table):
    """The derived analyses of 'table', computed once (the permutations are
    the slow part)."""
    cache = getattr(table, "_analyses", None)
    if cache is None:
        cache = {}
        table._analyses = cache
    return cache


def cached(table, name, make):
    cache = analyses_of(table)
    if name not in cache:
        cache[name] = make()
    return cache[name]


def spatial_of(table):
    return cached(table, "spatial", lambda: SpatialAnalysis(table))


def kinship_of(table):
    return cached(table, "kinship", lambda: kinship_levels(table))


def unit_analysis_rows(table, unit):
    """The summary rows that follow a unit's (mlg or mll) own rows: emlg,
    emlg_se (RAREFY), then subrange_max, subrange_mean, aggregation_Ac,
    aggregation_p (COORDINATES)."""
    rows = []
    settings = table.analysis
    if settings.rarefy is not None:
        sizes = [len(table.mlgs[a]) for a in table.order] if unit == "mlg" else \
            table.lineage_sizes
        rarefied = cached(table, "rarefy " + unit, lambda: Rarefaction(sizes, settings.rarefy))
        rows.append(Pattern("emlg,%s," % unit, Cell(rarefied.emlg_check("emlg (%s)" % unit))))
        rows.append(Pattern("emlg_se,%s," % unit,
                            Cell(rarefied.se_check("emlg_se (%s)" % unit))))
    if settings.located:
        spatial = spatial_of(table)
        rows += (spatial.mlg if unit == "mlg" else spatial.mll).summary_rows(unit)
    return rows


def kinship_summary_rows(table):
    """The rows of units ramets and genets (COORDINATES), last."""
    if not table.analysis.located:
        return []
    return [row for level in kinship_of(table) for row in level.summary_rows()]


def expected_analysis_file(table, prefix):
    if prefix == "linkage_":
        return [LINKAGE_HEADER] + cached(table, "linkage",
                                         lambda: linkage_rows(table, table.analysis.linkage))
    if prefix == "loci_":
        return [LOCICURVE_HEADER] + cached(
            table, "curve", lambda: accumulation_rows(table, table.analysis.loci_curve))
    if prefix == "spatial_":
        return spatial_of(table).expected_file()
    if prefix == "kinship_":
        return [KINSHIP_HEADER] + [row for level in kinship_of(table)
                                   for row in level.expected_rows()]
    raise ValueError(prefix)


ANALYSIS_FILE_NAMES = {"linkage_": "linkage file", "loci_": "locus curve file",
                       "spatial_": "spatial file", "kinship_": "kinship file"}


def check_analysis_files(comparison, table, texts, summary_text):
    """Compare the analyses' files, then the cells that must be one double
    twice: kinship_first_class of the summary and the kinship of class 1,
    and sp = -b / (1 - F1) from the printed slope b and F1."""
    for prefix in ANALYSIS_PREFIXES:
        if texts.get(prefix) is not None:
            comparison.lines(ANALYSIS_FILE_NAMES[prefix], expected_analysis_file(table, prefix),
                             texts[prefix], {})
    if summary_text is None or not table.analysis.located:
        return
    summary = {}
    for line in summary_text.split("\n"):
        cells = line.split(",")
        if len(cells) == 3:
            summary[(cells[0], cells[1])] = cells[2]
    first_class = {}
    for line in (texts.get("kinship_") or "").split("\n"):
        cells = line.split(",")
        if len(cells) == 6 and cells[1] == "1":
            first_class[cells[0]] = cells[5]
    for level in ("ramets", "genets"):
        f1 = summary.get(("kinship_first_class", level))
        if level in first_class and f1 is not None and f1 != first_class[level]:
            comparison.problem("summary file: kinship_first_class (%s) %s is not the kinship "
                               "of class 1, %s" % (level, f1, first_class[level]))
        slope = summary.get(("kinship_slope", level))
        sp = summary.get(("sp", level))
        try:
            values = float(slope), float(f1)
        except (TypeError, ValueError):
            continue
        if math.isfinite(values[0]) and math.isfinite(values[1]) and values[1] != 1.0:
            expected = shortest(-values[0] / (1.0 - values[1]))
            if sp != expected:
                comparison.problem("summary file: sp (%s) %s is not -b / (1 - F1) = %s from "
                                   "b %s and F1 %s" % (level, sp, expected, slope, f1))


# --------------------------------------------------------------------------
# A whole run: the driver's loop over the arguments.
# --------------------------------------------------------------------------


def project_version():
    """The version the repository's CMakeLists.txt gives the project (the
    one --version names), or None when this script is not in a checkout."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir,
                        "CMakeLists.txt")
    try:
        with open(path, encoding="utf-8") as stream:
            match = re.search(r"project\(\s*psex\s+VERSION\s+([0-9][0-9.]*)", stream.read())
    except OSError:
        return None
    return match.group(1) if match else None


def command_line(arguments, entries):
    """How the program reads its arguments, all of them before it processes
    any: returns ("help" | "version" | "unknown" | "wrong" | "run", the data
    file arguments, the unknown option or the message about a wrong --set,
    the settings of --set as (key, value) pairs).

    --help and -h ask for the usage text, --version for the version line;
    "--" ends the options (every later argument is a data file, "--" itself
    is not); --set KEY=VALUE (or --set=KEY=VALUE), before the data files,
    sets a header key for every data file (a key given again keeps its place
    and takes the later value); a --set without KEY=VALUE (no '=', an empty
    key, a line end or a TAB) or after a data file is wrong; any other
    argument that begins with '-' (a lone '-' too) is a data file when a
    regular file of that name exists, else an unknown option.  The first
    --help, -h or --version before any "--" decides, whatever else is given;
    otherwise the first unknown option or wrong --set does."""
    files = []
    settings = []
    options_ended = False
    problem = None  # ("unknown", option) or ("wrong", message)
    index = 0
    while index < len(arguments):
        argument = arguments[index]
        index += 1
        if options_ended:
            files.append(argument)
        elif argument == "--":
            options_ended = True
        elif argument in ("--help", "-h"):
            return "help", [], None, []
        elif argument == "--version":
            return "version", [], None, []
        elif argument == "--set" or argument.startswith("--set="):
            if argument == "--set" and index == len(arguments):
                problem = problem or ("wrong", "error: --set needs KEY=VALUE (try --help)")
                continue
            if argument == "--set":
                setting = arguments[index]
                index += 1
            else:
                setting = argument[len("--set="):]
            key, equals, value = setting.partition("=")
            if files:
                problem = problem or ("wrong", "error: --set %s comes after a data file; "
                                      "settings come before the data files (try --help)"
                                      % setting)
            elif not equals or not key or any(c in setting for c in "\r\n\t"):
                problem = problem or ("wrong", "error: --set needs KEY=VALUE, not '%s' "
                                      "(try --help)" % setting)
            else:
                for entry in settings:
                    if entry[0] == key:
                        entry[1] = value
                        break
                else:
                    settings.append([key, value])
        elif argument.startswith("-") and entries.get(os.path.normpath(argument)) is not False:
            problem = problem or ("unknown", argument)
        else:
            files.append(argument)
    if problem is not None:
        return problem[0], [], problem[1], []
    return "run", files, None, [tuple(entry) for entry in settings]


# The warning after the simulations of a data file with a repeated MLG
# whose simulated list is too short to resolve the finest level.
FINEST_LEVEL_REPEATS = 1000


def repeats_warning(table, m):
    if not any(len(names) >= 2 for names in table.mlgs.values()):
        return None
    if m == 0:
        return ("warning: no simulated repeats; the significance of repeated genotypes is "
                "undefined: raise SIMULATIONS.")
    if m < FINEST_LEVEL_REPEATS:
        return ("warning: only %d simulated repeats; levels finer than 1/%d are not resolved "
                "(the 0.001 level needs 1000): raise SIMULATIONS." % (m, m))
    return None


def resolved_name(name, entries):
    """The path, relative to the working folder and without '.' and '..',
    that the result file 'name' would have once written; None when a folder
    on its way does not exist ('entries' maps the entries of the working
    folder to whether they are folders).  Beyond the working folder every
    folder is taken to exist."""
    parts = []
    for part in name.split("/")[:-1]:
        if part in ("", "."):
            continue
        if part == "..":
            if parts and parts[-1] != "..":
                parts.pop()
            else:
                parts.append("..")
            continue
        parts.append(part)
        if parts[0] != ".." and not entries.get(os.path.join(*parts), False):
            return None
    return os.path.join(*parts, os.path.basename(name))


def refusal_of(names, argument, from_title, entries):
    """The error that refuses to write the result files 'names' of the data
    file 'argument', or None: two names that come to one file, or (for a run
    name taken from TITLE) a name that leads out of the working folder."""
    seen = set()
    for name in names:
        path = resolved_name(name, entries)
        if path is None:
            continue
        if from_title and path.split(os.sep)[0] == "..":
            return ("error: result files of '%s' would be written outside the working folder "
                    "('%s')." % (argument, name))
        if path in seen:
            return ("error: result files of '%s' would overwrite each other ('%s')." % (
                argument, name))
        seen.add(path)
    return None


class RunModel:
    """What one run of the program must print and leave.

    'entries' maps every file system entry present before the run (path
    relative to the working folder) to True for a folder, False for a file;
    'folder' is where the data files can be read.  'generator' replaces the
    program's random source (the self-test hands out given numbers)."""

    # The files of every run, in the order they are written; the distances
    # file follows with MLLDISTANCE, then the files of the analyses that the
    # header asks for (ANALYSIS_PREFIXES).
    RESULT_PREFIXES = ("simresults_", "fulltable_", "samples_", "summary_")
    DISTANCES_PREFIX = "distances_"

    @staticmethod
    def prefixes_of(table):
        """The prefixes of the files a run on 'table' writes, in order."""
        prefixes = RunModel.RESULT_PREFIXES
        if table.mll_distance is not None:
            prefixes += (RunModel.DISTANCES_PREFIX,)
        return prefixes + analysis_prefixes(table)

    def __init__(self, arguments, folder, entries, replay=True, generator=None):
        self.stdout = []
        self.stderr = []
        self.status = 0
        # None, or "help" / "version": standard output is the usage text or
        # the version line, which are not derived here.
        self.fixed_output = None
        self.passes = []  # (argument, table, data file, output names, replayed, written)
        self.inputs = set(entries)
        entries = dict(entries)
        kind, data_files, problem, settings = command_line(arguments, entries)
        if kind in ("help", "version"):
            self.fixed_output = kind
            return
        if kind == "unknown":
            self.stderr.append("error: unknown option '%s' (try --help)" % problem)
            self.status = 2
            return
        if kind == "wrong":
            self.stderr.append(problem)
            self.status = 2
            return
        if settings and data_files:
            # Said once, before the first data file, in the order given.
            self.stdout.append("Set from the command line: " + ", ".join(
                key + "=" + value for key, value in settings))
        if generator is None and replay:
            generator = LaggedFibonacci607()
        for argument in data_files:
            key = os.path.normpath(argument)
            if key not in entries or entries[key]:
                # A missing file or a folder cannot be opened as a data file:
                # the run ends at once, silently.
                self.status = 2
                return
            with open(os.path.join(folder, key), "rb") as stream:
                data = stream.read()
            self.stdout.append("Reading file " + argument)
            data_file = DataFile(data)
            # --set: the key as if the header said so, for every data file
            # (and so in the echo of the header too).
            data_file.parameters.update(dict(settings))
            table = Table(data_file)
            self.stdout += data_file.messages
            self.stderr += table.errors
            replayed = None
            if generator is not None:
                replayed = table.replay_simulation(generator)
                self.stderr += table.simulation_errors
                warning = repeats_warning(table, len(replayed))
                if warning:
                    self.stderr.append(warning)
            run_name = table.title if table.title else argument
            prefixes = self.prefixes_of(table)
            names = tuple(prefix + run_name + ".csv" for prefix in prefixes)
            refusal = refusal_of(names, argument, bool(table.title), entries)
            if refusal:
                self.stderr.append(refusal)
                self.status = 1
            written = []
            if not refusal:
                written = self._replace_set(names, argument, run_name, table, entries)
            if table.n_samples == 0:
                self.stderr.append("error: no sample was read from '%s'." % argument)
                self.status = 1
            if data_file.ended_early:
                # Samples after the line that ended the data are lost.
                self.status = 1
            if data_file.looks_like_table():
                self.stderr.append("hint: '%s' looks like a spreadsheet table, not a psex data "
                                   "file; convert it with psex-import." % argument)
            self.passes.append((argument, table, data_file, names, replayed, written))

    def _replace_set(self, names, argument, run_name, table, entries):
        """Model the replacement of the result files 'names' of a data file
        as one set and return the names written: all of them, or none.  A
        folder at a result name refuses the set; a name whose folder does not
        exist cannot be written, and every such name is reported.  Only when
        all are written come the overwrite warnings, and a distances file
        (or a file of an analysis) of an earlier run goes when this run
        writes none, in the order of the set (in the working folder only)."""
        failed = False
        for name in names:
            if entries.get(os.path.normpath(name), False):
                self.stderr.append("error: '%s' exists and is not a regular file." % name)
                failed = True
        if not failed:
            for name in names:
                parent = os.path.dirname(os.path.normpath(name))
                if parent and not entries.get(parent, False):
                    self.stderr.append("error: cannot write output file '%s'." % name)
                    failed = True
        if failed:
            self.stderr.append("error: no result file of '%s' was replaced." % argument)
            self.status = 1
            return []
        for name in names:
            if os.path.normpath(name) in entries:
                self.stdout.append("Warning: overwriting output file '%s'." % name)
            entries[os.path.normpath(name)] = False
        for prefix in (self.DISTANCES_PREFIX,) + ANALYSIS_PREFIXES:
            obsolete = prefix + run_name + ".csv"
            if (obsolete not in names and "/" not in run_name
                    and entries.get(obsolete) is False):
                self.stdout.append("Warning: removing output file '%s' of an earlier run."
                                   % obsolete)
                del entries[obsolete]
        self.stdout.append("Results are written to '%s'." % names[0])
        return list(names)

    def result_files(self):
        """The pass that wrote each new result file last."""
        files = {}
        for entry in self.passes:
            for name in entry[5]:
                if os.path.normpath(name) not in self.inputs:
                    files[os.path.normpath(name)] = entry
        return files


def check_fixed_output(comparison, kind, stdout):
    """The usage text is the program's own (its tests check it): it must
    merely be there.  The version line names the project's version."""
    if kind == "help":
        if not stdout.strip():
            comparison.problem("standard output: no usage text")
        return
    version = project_version()
    if version is not None:
        comparison.text("standard output", "psex %s\n" % version, stdout)
    elif re.fullmatch(r"psex \S+\n", stdout) is None:
        comparison.problem("standard output: %r is not a version line" % stdout)


def check_run(label, model, stdout, stderr, status, files):
    """files: result file name -> text, every new file the run left."""
    comparison = Comparison(label)
    if model.fixed_output is not None:
        check_fixed_output(comparison, model.fixed_output, stdout)
    else:
        comparison.text("standard output", "".join(line + "\n" for line in model.stdout),
                        stdout)
    comparison.text("standard error", "".join(line + "\n" for line in model.stderr), stderr)
    comparison.text("exit status", model.status, status)
    expected_files = model.result_files()
    comparison.text("result files", sorted(expected_files), sorted(files))
    done = set()
    for name, entry in expected_files.items():
        argument, table, data_file, names, replayed, _ = entry
        if names in done:
            continue
        done.add(names)
        texts = {prefix: files.get(os.path.normpath(n))
                 for prefix, n in zip(RunModel.prefixes_of(table), names)}
        sub = Comparison("%s: %s" % (label, argument))
        check_result_files(sub, argument, table, data_file, texts["simresults_"],
                           texts["fulltable_"], texts["samples_"], replayed,
                           summary_text=texts["summary_"],
                           distances_text=texts.get(RunModel.DISTANCES_PREFIX),
                           analysis_texts={p: texts[p] for p in ANALYSIS_PREFIXES if p in texts})
        comparison.problems += sub.problems
    return comparison.problems


def run_program(binary, data_path):
    """Run the program on a copy of one data file in a fresh folder."""
    folder = tempfile.mkdtemp(prefix="psex-check-")
    try:
        argument = os.path.basename(data_path)
        shutil.copyfile(data_path, os.path.join(folder, argument))
        result = subprocess.run([os.path.abspath(binary), argument], cwd=folder,
                                capture_output=True)
        files = {}
        for root, _, names in os.walk(folder):
            for name in names:
                relative = os.path.relpath(os.path.join(root, name), folder)
                if relative != argument:
                    with open(os.path.join(folder, relative), "rb") as stream:
                        files[relative] = stream.read().decode("latin-1")
        model = RunModel([argument], folder, {argument: False})
        return check_run(data_path, model, result.stdout.decode("latin-1"),
                         result.stderr.decode("latin-1"), result.returncode, files)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def relative_entries(folder, skip=()):
    """Every entry below 'folder': relative path -> whether it is a folder."""
    entries = {}
    for root, dirs, names in os.walk(folder):
        for name in dirs + names:
            relative = os.path.relpath(os.path.join(root, name), folder)
            if relative.split(os.sep)[0] not in skip:
                entries[relative] = name in dirs
    return entries


def check_expected(label, arguments, folder, entries, expected_dir):
    """Check expected console output and result files (stdout, stderr,
    status and files/ below 'expected_dir') of a run with 'arguments' in a
    folder holding 'entries' (readable below 'folder')."""
    def read(*parts):
        with open(os.path.join(expected_dir, *parts), "rb") as stream:
            return stream.read().decode("latin-1")
    model = RunModel(arguments, folder, entries)
    files_dir = os.path.join(expected_dir, "files")
    files = {}
    if os.path.isdir(files_dir):
        for name, is_folder in relative_entries(files_dir).items():
            if not is_folder:
                files[name] = read("files", name)
    return check_run(label, model, read("stdout"), read("stderr"), int(read("status")), files)


def check_case(case_dir):
    """Check an end-to-end test case: its args, its input files and its
    expected/ folder."""
    with open(os.path.join(case_dir, "args"), "rb") as stream:
        arguments = shlex.split(stream.read().decode("latin-1"))
    entries = relative_entries(case_dir, skip=("args", "expected"))
    return check_expected(os.path.basename(case_dir), arguments, case_dir, entries,
                          os.path.join(case_dir, "expected"))


def check_example(examples_dir, expected_dir):
    """Check the expected results of a shipped example, run by its file name
    alone in a folder of its own."""
    name = os.path.basename(os.path.normpath(expected_dir))
    argument = name + ".txt"
    return check_expected("example " + name, [argument], examples_dir, {argument: False},
                          expected_dir)


# --------------------------------------------------------------------------
# Self-test: the helpers against small data files worked by hand.
# --------------------------------------------------------------------------

# Each entry: file name -> data file text.  The expected values below were
# worked out by hand from the data, not by running this script.
SELF_TEST_FILES = {
    # Missing copies (code -9), unordered pairs, SAMPLE, HWE.
    "missing.txt": (
        "PLOIDY=2\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\nMISSING=-9\nSIMULATIONS=1\n\n"
        "name,a1,a2,b1,b2\n"
        "s1,116,114,-9,-9\ns2,114,116,7,9\ns3,114,-9,7,7\ns4,114,114,9,7\n"),
    # Code 0 (an empty field and NA read as 0), FREQUENCY=MLG, MODEL=FIS.
    "missing-mlg-fis.txt": (
        "PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=L\nMISSING=0\nFREQUENCY=MLG\nMODEL=FIS\n"
        "SIMULATIONS=1\n\nname,a,b\n"
        "m1,1,2\nm2,2,1\nm3,0,2\nm4,0,0\nm5,,NA\nm6,1,1\n"),
    # Unknown keys, blank spreadsheet rows, data ended by a short line.
    "rows.txt": (
        "PLOIDY=DIPLOID\nModel=HWE\n=x\nSIMULATIONS =3\nfoo=bar\ntitle\t=t\n"
        "LOCUSCOUNT=1\nLOCUSNAMES=K\n\nname,a,b\n"
        "x1,14,12\nx2,12,14\n,,\n,,,,\r\nx3,12,12\nx4,7\n\nx5,1,2\n   \t\n#x6"),
    # Data ended by a line that begins with a space.
    "space.txt": (
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nn,a\na,1\n b,2\n\r\nc,3\r\nd"),
    # No sample at all: only blank rows before the data end.
    "nosample.txt": (
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\nextra=1\nFREQUENCY=x\n\n"
        "n,a\n,\n,\r\n\tstop\nmore\n"),
    # A locus without any typed copy; haploid, code NA = 0.
    "untyped-haploid.txt": (
        "PLOIDY=1\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\nMISSING=NA\nSIMULATIONS=1\n\n"
        "n,a,b\ns1,1,0\ns2,2,\n"),
    # The same, diploid, code -1, second locus unnamed.
    "untyped-diploid.txt": (
        "PLOIDY=2\nLOCUSCOUNT=2\nLOCUSNAMES=A\nMISSING=-1\nSIMULATIONS=1\n\n"
        "n,a1,a2,b1,b2\ns1,3,5,-1,-1\ns2,5,3,-1,-1\n"),
    # The samples file: a name with a double quote, single MLGs (NA).
    "samples.txt": (
        "PLOIDY=1\nLOCUSCOUNT=1\nLOCUSNAMES=L\nSIMULATIONS=2\n\n"
        "name,a\na\"b,1\nc,2\nd,1\ne,3\n"),
    # Two haploid loci: four samples can all differ in a simulation.
    "norepeat.txt": (
        "PLOIDY=1\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\nSIMULATIONS=1\n\n"
        "n,a,b\np,1,5\nq,1,5\nr,2,6\ns,3,7\n"),
    # One allele only: every simulated data set is one MLG of both samples.
    "mono.txt": (
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=999\n\nn,a\nu,4\nv,4\n"),
    # FREQUENCY=ROUNDROBIN: a dominant clone c1-c5 and its near-copy d1.
    "robin.txt": (
        "PLOIDY=2\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\nFREQUENCY=ROUNDROBIN\nSIMULATIONS=1\n\n"
        "S,a1,a2,b1,b2\nc1,1,1,1,2\nc2,1,1,1,2\nc3,1,1,1,2\nc4,1,1,1,2\nc5,1,1,1,2\n"
        "d1,1,1,2,2\ne1,2,3,1,1\nf1,1,2,1,2\ng1,1,2,1,3\n"),
    # ROUNDROBIN with the defaults: one locus, so MLG, with its warning.
    "robin-one.txt": (
        "FREQUENCY=ROUNDROBIN\nLOCUSNAMES=X,Y\n\nS,a,b\nx,1,2\ny,2,1\nz,2,2\n"),
    # Lineages, MLLDISTANCE=1: A-B, B-C one copy apart, A-C two; E (2,3 | 0,9)
    # is one copy from B and C once M, missing in E, is left out; D far.
    "chain.txt": (
        "PLOIDY=2\nLOCUSCOUNT=2\nLOCUSNAMES=L,M\nMISSING=0\nMLLDISTANCE=1\nSIMULATIONS=2\n"
        "TITLE=chain\n\nS,l1,l2,m1,m2\n"
        "d1,7,7,9,9\na1,1,1,5,5\nb1,2,1,5,5\ne1,3,2,9,0\nc1,2,2,5,5\na2,1,1,5,5\n"
        "d2,7,7,9,9\n"),
    # Frequencies 1/6, 1/6, 4/6: a draw just below 1 walks past them all.
    "walk.txt": (
        "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=1\n\nn,a\na,1\nb,2\nc,3\nd,3\ne,3\nf,3\n"),
    # A data file that ends its data at a line beginning with a space, with
    # nothing after it: nothing is lost.
    "space-end.txt": "PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nn,a\na,1\nb,2\n end\n\n",
    # A spreadsheet table (semicolons, no '=' anywhere).
    "table.csv": "Sample;Pop;A;A\nx;1;2;3\n",
    # Allele cells: blank, signed and padded ones are whole numbers; the
    # others are named (with their line) up to five, then counted.
    "cells.txt": (
        "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nn,a,b\n"
        "p, -3 ,+4\n,,\nq,12O,NA\nr,1.5,+\ns, 7 x,\nt,?,-\n"),
    # MODEL=FIS, 3 AA, 4 AB, 3 BB: Fis 0.2 in the data.
    "fis-null.txt": (
        "PLOIDY=2\nLOCUSCOUNT=1\nLOCUSNAMES=L\nMODEL=FIS\nSIMULATIONS=1000\n\n"
        "n,a,b\nh1,1,1\nh2,1,1\nh3,1,1\nx1,1,2\nx2,2,1\nx3,1,2\nx4,1,2\n"
        "k1,2,2\nk2,2,2\nk3,2,2\n"),
}


class ListedDraws:
    """A stand-in for the generator that hands out given numbers."""

    def __init__(self, values):
        self.values = list(values)

    def __call__(self):
        return self.values.pop(0)


class Failures(list):
    """The self-test's failures, as they are found."""

    def same(self, what, expected, actual):
        if expected != actual:
            self.append("%s\n    expected: %r\n    actual:   %r" % (what, expected, actual))

    def expect(self, what, condition):
        if not condition:
            self.append(what)


def table_of(name):
    """The data file and the table of the self-test file 'name'."""
    data_file = DataFile(SELF_TEST_FILES[name].encode("latin-1"))
    return data_file, Table(data_file)


def self_test(folder=None):
    """Check the derivation on the files above; return the failures."""
    failures = Failures()
    same = failures.same

    def cells(table):
        return {
            "alleles": [str(len(f)) for f in table.frequencies],
            "He": [fmt(v) for v in table.he],
            "Ho": [fmt(v) for v in table.ho],
            "Fis": [fmt(v) for v in table.fis],
            "PGen": [fmt(table.pgen[a]) for a in table.order],
        }

    # Missing copies: frequencies over the typed copies of each locus
    # (A: 114 five of 7, 116 two of 7; B: 7 four of 6, 9 two of 6), Ho over
    # the samples typed at the locus (2 of 3 at both), PGen factor 1 where a
    # copy is missing: s3 (7/7 only) (2/3)^2, s4 (5/7)^2 (4/9), s1 2(5/7)(2/7),
    # s2 (20/49)(4/9).  He A 20/49, B 4/9; Fis A 1 - (2/3)(49/20), B -1/2.
    data_file, table = table_of("missing.txt")
    same("missing: messages", ["note: missing allele copies: A 1, B 2"], table.errors)
    same("missing: MLG order",
         [(-9, 114, 7, 7), (114, 114, 7, 9), (114, 116, -9, -9), (114, 116, 7, 9)],
         table.order)
    same("missing: frequencies",
         [{114: 5 / 7, 116: 2 / 7}, {7: 4 / 6, 9: 2 / 6}], table.frequencies)
    same("missing: cells", {
        "alleles": ["2", "2"], "He": ["0.408163", "0.444444"],
        "Ho": ["0.666667", "0.666667"], "Fis": ["-0.633333", "-0.5"],
        "PGen": ["0.444444", "0.226757", "0.408163", "0.181406"]}, cells(table))

    # Code 0 with FREQUENCY=MLG: the first samples of (0,2), (1,1), (1,2)
    # give the typed copies 2; 1, 1; 1, 2: 1 three of 5, 2 two of 5.  Ho over
    # the MLGs typed at L: (1,1) and (1,2), one heterozygous: 0.5.  He 0.48,
    # Fis -0.02/0.48.  PGen (FIS): 1 for (0,0) and (0,2); (1,1)
    # F 0.6 + (1 - F) 0.36 = 0.35; (1,2) 2 (0.24)(1 - F) = 0.5.
    data_file, table = table_of("missing-mlg-fis.txt")
    same("code 0: messages", ["warning: line 14: allele 'NA' is not a whole number; read as 0.",
                              "note: missing allele copies: L 5"], table.errors)
    same("code 0: MLGs", {(0, 0): ["m4", "m5"], (0, 2): ["m3"], (1, 1): ["m6"],
                          (1, 2): ["m1", "m2"]}, table.mlgs)
    same("code 0: cells", {
        "alleles": ["2"], "He": ["0.48"], "Ho": ["0.5"], "Fis": ["-0.0416667"],
        "PGen": ["1", "1", "0.35", "0.5"]}, cells(table))

    # Unknown keys in byte-wise order before every other table message;
    # rows 13 and 14 are blank rows; line 16 is short (E6 with its own
    # number) and ends the data with text unread; lines 18 and 20 (no final
    # line end) hold text.
    data_file, table = table_of("rows.txt")
    same("rows: standard error", [
        "warning: unknown header key '' ignored.",
        "warning: unknown header key 'Model' ignored; did you mean 'MODEL'?",
        "warning: unknown header key 'SIMULATIONS ' ignored; did you mean 'SIMULATIONS'?",
        "warning: unknown header key 'foo' ignored.",
        "warning: unknown header key 'title\t' ignored; did you mean 'TITLE'?",
        "error: SIMULATIONS is unspecified, assuming 1000.",
        "warning: line 13: empty row skipped.",
        "warning: line 14: empty row skipped.",
        "warning: the data end at line 16; 2 later lines were not read."], table.errors)
    same("rows: standard output", ["error:16: data line has not enough entries (2 of 3)."],
         data_file.messages)
    same("rows: ended early", True, data_file.ended_early)
    same("rows: MLGs", {(12, 12): ["x3"], (12, 14): ["x1", "x2"]}, table.mlgs)

    # A line beginning with a space (line 7) ends the data silently; of the
    # later lines, "\r" is blank, "c,3\r" and "d" (no line end) hold text.
    data_file, table = table_of("space.txt")
    same("space: standard error",
         ["warning: the data end at line 7; 2 later lines were not read."], table.errors)
    same("space: samples", ["a"], table.sample_names)
    same("no later text: no warning", [], DataFile(
        b"PLOIDY=1\nLOCUSCOUNT=1\nSIMULATIONS=2\n\nn,a\na,1\n b,2\n \t\r\n\n").warnings)

    # The allele sort never touches haploid data, and without MISSING the
    # old derivation stands: 0 is an allele, an empty locus gives PGen 0.
    data_file = DataFile(b"PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\n\nn,a,b\ns1,2,0\ns2,1,\n")
    table = Table(data_file)
    same("no code: frequencies", [{1: 0.5, 2: 0.5}, {0: 1.0}], table.frequencies)
    same("no code: MLG order", [(1, 0), (2, 0)], table.order)

    # A locus with no typed copy: empty map (He, Ho and Fis undefined), no
    # frequency message but a warning after the note, factor 1.  In the
    # simulation the draws of that locus choose nothing, so the code is
    # stored: with the draws 0.1, 0.7 | 0.2, 0.9 both samples are (1, code):
    # one clone, PGen 0.5, PSex 0.5^2, and no message.
    data_file, table = table_of("untyped-haploid.txt")
    same("untyped: messages", ["note: missing allele copies: B 2",
                               "warning: locus 'B' has no typed allele copy; it adds nothing "
                               "to PGen."], table.errors)
    same("untyped: cells", {"alleles": ["2", "0"], "He": ["0.5", DASH], "Ho": ["0", DASH],
                            "Fis": ["1", DASH], "PGen": ["0.5", "0.5"]}, cells(table))
    replayed = table.replay_simulation(ListedDraws([0.1, 0.7, 0.2, 0.9]))
    same("untyped: simulated", [(Fraction(1, 4), 0.25, 0.5, 2)],
         [(r.exact, r.value, r.g, r.n) for r in replayed])
    same("untyped: simulation messages", [], table.simulation_errors)

    # Diploid, code -1, unnamed second locus: 5,3 is stored 3,5, so both
    # samples form one MLG, PGen 2 (0.5)(0.5) = 0.5, PSex 0.25.  Draws
    # 0.6 -> 5, 0.1 -> 3, nothing twice at B; 0.2 -> 3, 0.7 -> 5, nothing twice.
    data_file, table = table_of("untyped-diploid.txt")
    same("untyped diploid: messages", ["note: missing allele copies:  4",
                                       "warning: locus '' has no typed allele copy; it adds "
                                       "nothing to PGen."],
         table.errors)
    same("untyped diploid: MLGs", {(3, 5, -1, -1): ["s1", "s2"]}, table.mlgs)
    same("untyped diploid: PSex", Fraction(1, 4), table.psex[(3, 5, -1, -1)].exact)
    replayed = table.replay_simulation(ListedDraws([0.6, 0.1, 0.3, 0.3, 0.2, 0.7, 0.5, 0.5]))
    same("untyped diploid: simulated", [(0.25, 0.5, 2)],
         [(r.value, r.g, r.n) for r in replayed])

    failures += self_test_formats()
    failures += self_test_psex()
    failures += self_test_lineages()

    # The driver: a file without samples is written, then the error, status
    # 1; a later file that cannot be opened still ends the run with 2.
    scratch = folder or tempfile.mkdtemp(prefix="psex-selftest-")
    try:
        for name, text in SELF_TEST_FILES.items():
            with open(os.path.join(scratch, name), "wb") as stream:
                stream.write(text.encode("latin-1"))
        entries = {name: False for name in SELF_TEST_FILES}
        model = RunModel(["nosample.txt"], scratch, entries)
        same("no sample: standard output", [
            "Reading file nosample.txt",
            "Results are written to 'simresults_nosample.txt.csv'."], model.stdout)
        same("no sample: standard error", [
            "warning: unknown header key 'extra' ignored.",
            "error: FREQUENCY is unspecified, assuming SAMPLE.",
            "warning: line 8: empty row skipped.",
            "warning: line 9: empty row skipped.",
            "warning: the data end at line 10; 1 later lines were not read.",
            "error: no sample was read from 'nosample.txt'."], model.stderr)
        same("no sample: status", 1, model.status)
        same("no sample, then a file that is not there: status", 2,
             RunModel(["nosample.txt", "absent.txt"], scratch, entries).status)
        # rows.txt ends its data at a short line with text: status 1.
        same("samples: status", 0, RunModel(["missing.txt", "space-end.txt"], scratch,
                                            entries).status)
        same("data ended early: status", 1, RunModel(["missing.txt", "rows.txt"], scratch,
                                                     entries).status)
        same("data ended early, a later line: status", 1,
             RunModel(["space.txt"], scratch, entries).status)
        # A spreadsheet table: one message per row, then the hint.
        model = RunModel(["table.csv"], scratch, entries)
        same("a table given to psex: the end of standard error", [
            "error: no sample was read from 'table.csv'.",
            "hint: 'table.csv' looks like a spreadsheet table, not a psex data file; convert "
            "it with psex-import."], model.stderr[-2:])
        same("a table given to psex: standard output", [
            "Reading file table.csv",
            "Error:2: header variable with no '=' (line = 'Sample;Pop;A;A').",
            "Error:3: header variable with no '=' (line = 'x;1;2;3').",
            "Error:3: end of file while parsing header variable.",
            "Results are written to 'simresults_table.csv.csv'."], model.stdout)
        same("a table given to psex: status", 1, model.status)
        # Allele cells that are not whole numbers: the first five, then a count.
        data_file, table = table_of("cells.txt")
        same("allele cells: messages", [
            "warning: line 7: empty row skipped.",
            "warning: line 8: allele '12O' is not a whole number; read as 12.",
            "warning: line 8: allele 'NA' is not a whole number; read as 0.",
            "warning: line 9: allele '1.5' is not a whole number; read as 1.",
            "warning: line 9: allele '+' is not a whole number; read as 0.",
            "warning: line 10: allele ' 7 x' is not a whole number; read as 7.",
            "warning: 2 more allele cells are not whole numbers."], table.errors)
        # The folder simresults_sub does not exist: every write error, then
        # the set's, come before the no-sample error.
        os.makedirs(os.path.join(scratch, "sub"), exist_ok=True)
        shutil.copyfile(os.path.join(scratch, "nosample.txt"),
                        os.path.join(scratch, "sub", "nosample.txt"))
        model = RunModel(["sub/nosample.txt"], scratch,
                         dict(entries, **{"sub": True, "sub/nosample.txt": False}))
        same("no sample, not written: standard error tail", [
            "error: cannot write output file 'simresults_sub/nosample.txt.csv'.",
            "error: cannot write output file 'fulltable_sub/nosample.txt.csv'.",
            "error: cannot write output file 'samples_sub/nosample.txt.csv'.",
            "error: cannot write output file 'summary_sub/nosample.txt.csv'.",
            "error: no result file of 'sub/nosample.txt' was replaced.",
            "error: no sample was read from 'sub/nosample.txt'."], model.stderr[-6:])
        same("no sample, not written: status", 1, model.status)
        failures += self_test_driver(scratch, entries)
        failures += self_test_analyses(scratch, entries)
    finally:
        if folder is None:
            shutil.rmtree(scratch, ignore_errors=True)
    return failures


def self_test_lineages():
    """Round-robin frequencies, lineages, the reference pairs and the
    diversity indices, on data worked by hand."""
    failures = Failures()
    same = failures.same
    expect = failures.expect

    # Round robin.  A: the groups by B are (1,2) c1-c5 f1, (2,2) d1, (1,1)
    # e1, (1,3) g1; their first samples c1 1,1, d1 1,1, e1 2,3, g1 1,2 give
    # 1: 5/8, 2: 2/8, 3: 1/8.  B: the groups by A are (1,1) c1-c5 d1,
    # (2,3) e1, (1,2) f1 g1; c1 1,2, e1 1,1, f1 1,2 give 1: 4/6, 2: 2/6;
    # g1's 3 was not counted and weighs 1/(2G) = 1/10 (G = 5); sum 1.1.
    # Ho over the 5 MLGs: heterozygous at A e, f, g; at B c, f, g.
    data_file, table = table_of("robin.txt")
    same("round robin: messages", [], table.errors)
    total = 4.0 / 6.0 + 2.0 / 6.0 + 0.1
    same("round robin: frequencies",
         [{1: 5 / 8, 2: 2 / 8, 3: 1 / 8},
          {1: (4.0 / 6.0) / total, 2: (2.0 / 6.0) / total, 3: 0.1 / total}],
         table.frequencies)
    same("round robin: printed B", ["0.606061", "0.30303", "0.0909091"],
         [fmt(table.frequencies[1].get(a, 0.0)) for a in (1, 2, 3)])
    same("round robin: Ho", ["0.6", "0.6"], [fmt(v) for v in table.ho])
    # One locus (after the defaults): MLG, the warning after the defaults'
    # messages and before the locus names'; x and y are one MLG: 1 one of 4.
    data_file, table = table_of("robin-one.txt")
    same("round robin, one locus: messages", [
        "error: PLOIDY is unspecified, assuming DIPLOID.",
        "error: LOCUSCOUNT is unspecified, assuming 1.",
        "error: SIMULATIONS is unspecified, assuming 1000.",
        "warning: FREQUENCY=ROUNDROBIN needs two or more loci; using MLG.",
        "error: too many locus names given in LOCUSNAMES."], table.errors)
    same("round robin, one locus: MLG frequencies", [{1: 0.25, 2: 0.75}], table.frequencies)

    # Distances: a diploid locus counts 2 minus the shared alleles with
    # repeats; a locus with a missing copy (code 0 here) is left out.
    data_file, table = table_of("chain.txt")
    same("distance {1,1} {1,2}", 1, table.distance((1, 1, 5, 5), (1, 2, 5, 5)))
    same("distance {1,2} {2,1}", 0, table.distance((1, 2, 5, 5), (2, 1, 5, 5)))
    same("distance {1,1} {1,1}", 0, table.distance((1, 1, 5, 5), (1, 1, 5, 5)))
    same("distance {1,1} {2,2}", 4, table.distance((1, 1, 5, 5), (2, 2, 9, 9)))
    same("distance over a missing copy", 1, table.distance((2, 2, 5, 5), (2, 3, 0, 9)))
    # MLGs in table order: A 1,1|5,5  B 1,2|5,5  C 2,2|5,5  E 2,3|0,9
    # D 7,7|9,9.  Pairs: A-B, B-C, B-E, C-E at 1; A-C, A-E, E-D at 2
    # (E's M left out); A-D, B-D, C-D at 4.  k = 1: A-B-C-E is lineage 1
    # (A-C apart by 2 all the same), D lineage 2, though d1 comes first.
    same("chain: observed distances", {1: 4, 2: 3, 4: 3}, table.observed_distances)
    same("chain: lineages of the samples", [2, 1, 1, 1, 1, 1, 2],
         [table.lineage[a] for a in table.sample_alleles])
    same("chain: lineage sizes", [5, 2], table.lineage_sizes)
    lines = expected_samples(table, {}, [], None, {}, {})
    same("chain: the samples file's mll column", [",2,", ",1,", ",1,", ",1,", ",1,", ",1,",
                                                   ",2,"],
         [[p for p in line.parts if isinstance(p, str) and re.fullmatch(",[0-9]+,", p)][-1]
          for line in lines[1:]])
    for k, lineages in (("0", [5, 1, 2, 4, 3, 1, 5]), ("-1", [5, 1, 2, 4, 3, 1, 5]),
                        ("2", [1] * 7), ("x", [5, 1, 2, 4, 3, 1, 5])):
        other = Table(DataFile(SELF_TEST_FILES["chain.txt"].replace(
            "MLLDISTANCE=1", "MLLDISTANCE=" + k).encode("latin-1")))
        same("chain, MLLDISTANCE=%s: lineages" % k, lineages,
             [other.lineage[a] for a in other.sample_alleles])
    # missing.txt: MLGs -9,114|7,7  114,114|7,9  114,116|-9,-9  114,116|7,9.
    # The first and the third share no locus typed in both, the third and
    # the fourth differ only at B, which the third lacks: distance 0 twice;
    # the other four pairs differ by one copy.  MLLDISTANCE=0 joins nothing.
    other = Table(DataFile(SELF_TEST_FILES["missing.txt"].replace(
        "MISSING=-9", "MISSING=-9\nMLLDISTANCE=0").encode("latin-1")))
    same("distance 0, MLLDISTANCE=0: pairs", {0: 2, 1: 4}, other.observed_distances)
    same("distance 0, MLLDISTANCE=0: lineages", [1, 2, 3, 4],
         [other.lineage[a] for a in other.order])
    same("distance rows: every distance up to the largest counted", [
        "0,0,0,1", "1,4,1,0", "2,3,0,0", "3,0,0,0", "4,3,0,0", "5,0,2,0"],
        distance_rows(table.observed_distances, {1: 1, 5: 2}, {0: 1, 6: 0}))
    same("distance rows: nothing counted", [], distance_rows({}, {}, {}))

    # splitmix64 from state 0 (its published first output), and the seed
    # is "psex ref" in ASCII.
    same("splitmix64 from 0", 0xE220A8397B1DCDAF, SplitMix64(0)())
    same("reference seed", b"psex ref", REFERENCE_SEED.to_bytes(8, "big"))

    # Two sibling pairs from given numbers.  Parents 0 -> A, 3 -> E (of 5);
    # offspring 1: L A[0]=1, E[1]=3; M A[0]=5, E[0]=0 (missing, untyped);
    # offspring 2: L A[1]=1, E[0]=2; M A[1]=5, E[1]=9.  Distance: L (1,3)
    # against (1,2) 1, M left out (counted, 5,0 against 5,9 would add 1).
    # Parents 1 -> B, 4 -> D: offspring 1 L B[0]=1, D[1]=7, M 5, 9;
    # offspring 2 L B[1]=2, D[1]=7, M 5, 9: distance 1 (drawing the second
    # parent's copy first, or the loci of both offspring in turn, gives 0).
    # Then two unrelated pairs, every number 0: u = 0 takes the first
    # allele, every genotype is 1,1|5,5, distance 0.
    draws = [0, 3, 0, 1, 0, 0, 1, 0, 1, 1] + [1, 4, 0, 1, 0, 1, 1, 1, 1, 1] + [0] * 16
    siblings, unrelated = table.reference_distances(ListedDraws(draws), 2)
    same("chain: two sibling pairs", ({1: 2}, {0: 2}), (siblings, unrelated))
    # Haploid, B never typed: parents 0 -> (1,0), 1 -> (2,0); offspring 1
    # A from parent 1 (0 even), offspring 2 from parent 2 (1 odd): 1.  The
    # unrelated copies: x = 2^63 - 1 gives u just below 1/2, allele 1; x =
    # 2^63 gives u = 1/2, which allele 1 (f = 1/2) does not exceed: 2.  B
    # has no allele to choose, so it is untyped in both.  Distance 1.
    data_file, table = table_of("untyped-haploid.txt")
    draws = [0, 1, 0, 0, 1, 1] + [2 ** 63 - 1, 5, 2 ** 63, 7]
    same("haploid: one pair of each", ({1: 1}, {1: 1}),
         table.reference_distances(ListedDraws(draws), 1))
    # walk.txt: the unrelated copy from x = 2^64 - 1, u = 1 - 2^-53, passes
    # every allele (u - 1/6 - 1/6 is 4/6 in double, not below it): no allele,
    # untyped, so the pair is at distance 0 although the other copy is 1.
    # (The sibling pair: parents and offspring all MLG 1, distance 0.)
    data_file, table = table_of("walk.txt")
    same("a walk past the last allele", ({0: 1}, {0: 1}),
         table.reference_distances(ListedDraws([0, 0, 0, 0, 2 ** 64 - 1, 0]), 1))
    same("no MLG: no reference pairs", ({}, {}),
         table_of("nosample.txt")[1].reference_distances(ListedDraws([]), 5))

    # Diversity of the sizes 3, 1, 1, 2, 1 (N = 8, G = 5): worked by hand
    # (beta: units of at least 1, 2, 3 samples hold 8, 5, 3 samples).
    values = diversity([3, 1, 1, 2, 1])
    for name, value in (("simpson", 6 / 7), ("shannon", 1.4941751382893085),
                        ("evenness_E5", 0.8681410298897236),
                        ("pielou_J", 0.9283832117695865),
                        ("pareto_beta", 0.869668058685821)):
        expect("diversity of 3,1,1,2,1: %s is %r, not %r" % (name, values[name], value),
               abs(values[name] - value) < 1e-13 * value)
    same("diversity of 3,1,1,2,1: counts", (5, 8, 3, 2, 4 / 7, 5 / 8),
         tuple(values[k] for k in ("G", "N", "single", "clonal", "R", "Pd")))
    nan_rows = ("simpson", "shannon", "evenness_E5", "pielou_J", "pareto_beta")
    same("one sample: undefined", ["NA"] * 7,
         [shortest(diversity([1])[k]) for k in ("R",) + nan_rows + ("R",)])
    same("no sample: R and Pd undefined", ["NA", "NA"],
         [shortest(diversity([])[k]) for k in ("R", "Pd")])
    one = diversity([3])
    same("one unit", ["0", "0", "NA", "NA", "NA"], [shortest(one[k]) for k in nan_rows])
    even = diversity([2, 2])
    same("two units of 2", ["1", "1", "NA"],
         [shortest(even[k]) for k in ("evenness_E5", "pielou_J", "pareto_beta")])
    # All distinct: exactly 1 where the quotients round above (3 samples)
    # or below (5).
    same("all distinct: E5 and J exactly 1", [[1.0, 1.0]] * 3,
         [[diversity([1] * n)[k] for k in ("evenness_E5", "pielou_J")] for n in (3, 5, 335)])
    # The meadow of the published Pareto beta: sizes 1 x 23, 2, 3, 3, 4, 5.
    expect("the published Pareto beta", abs(diversity([1] * 23 + [2, 3, 3, 4, 5])["pareto_beta"]
                                             - 1.1807559416085485) < 1e-12)

    # The summary file of chain.txt: MLG sizes 2,1,1,1,2 (N 7, G 5), lineage
    # sizes 5, 2.  Closed forms: MLGs H = ln 7 - (4/7) ln 2, lambda = 11/49,
    # E5 = (38/11)/(7/2^(4/7) - 1), beta = log10 (7/4) / log10 2 (units of
    # sizes 1 and 2 hold 7 and 4 samples); lineages H = ln 7 - (5/7) ln 5 -
    # (2/7) ln 2, lambda = 29/49, beta = log10 (7/5) / log10 2.5.  Each
    # simulated data set draws the L pairs 1,1 1,2 2,2 1,7 2,7 7,7 1,3 (u 0
    # for 1, 0.4 for 2, 0.65 for 3, 0.9 for 7; M always 5,5): no repeat,
    # M = 0, so no threshold and no realized level (NA).  Neither of the two
    # data sets has a repeat: both clones have the family-wise p-value 1/3,
    # 'ns', and each adds its second sample to the genets: 5 + 2 = 7.
    data_file, table = table_of("chain.txt")
    pairs = [(0.0, 0.0), (0.0, 0.4), (0.4, 0.4), (0.0, 0.9), (0.4, 0.9), (0.9, 0.9),
             (0.0, 0.65)]
    draws = [u for pair in pairs for u in pair + (0.0, 0.0)] * 2
    replayed = table.replay_simulation(ListedDraws(draws))
    mlg_h = math.log(7) - 4 / 7 * math.log(2)
    mll_h = math.log(7) - 5 / 7 * math.log(5) - 2 / 7 * math.log(2)
    rows = [
        ("G", "mlg", "5"), ("N", "mlg", "7"), ("R", "mlg", repr(4 / 6)),
        ("Pd", "mlg", repr(5 / 7)), ("single", "mlg", "3"), ("clonal", "mlg", "2"),
        ("simpson", "mlg", repr(19 / 21)), ("shannon", "mlg", repr(mlg_h)),
        ("evenness_E5", "mlg", repr((38 / 11) / (7 / 2 ** (4 / 7) - 1))),
        ("pielou_J", "mlg", repr(mlg_h / math.log(5))),
        ("pareto_beta", "mlg", repr(math.log10(7 / 4) / math.log10(2))),
        ("simulated_repeats", "mlg", "0"),
        ("threshold_0.01", "mlg", "NA"), ("realized_level_0.01", "mlg", "NA"),
        ("threshold_0.05", "mlg", "NA"), ("realized_level_0.05", "mlg", "NA"),
        ("threshold_0.10", "mlg", "NA"), ("realized_level_0.10", "mlg", "NA"),
        ("genets_0.05", "mlg", "7"),
        ("G", "mll", "2"), ("N", "mll", "7"), ("R", "mll", repr(1 / 6)),
        ("Pd", "mll", repr(2 / 7)), ("single", "mll", "0"), ("clonal", "mll", "2"),
        ("simpson", "mll", repr(10 / 21)), ("shannon", "mll", repr(mll_h)),
        ("evenness_E5", "mll", repr((20 / 29) / (math.exp(mll_h) - 1))),
        ("pielou_J", "mll", repr(mll_h / math.log(2))),
        ("pareto_beta", "mll", repr(math.log10(7 / 5) / math.log10(2.5)))]
    good = "statistic,unit,value\n" + "".join("%s,%s,%s\n" % row for row in rows)

    def summary_problems(name, table, replayed, text):
        comparison = Comparison(name)
        check_result_files(comparison, name, table, DataFile(SELF_TEST_FILES[name].encode(
            "latin-1")), None, None, None, replayed, summary_text=text)
        return comparison.problems

    same("chain: summary file", [], summary_problems("chain.txt", table, replayed, good))
    # M = 10 (no replay): every threshold is entry floor(alpha 9) = 0, not
    # entry floor(alpha 10) (1 for 0.10); a realized level rounds alpha M:
    # 0.1, 0.5 and 1 values give 0, 1 and 1, minus one, over 10: all 0.
    printed = [fmt(k / 10) for k in range(1, 11)]
    cells = {}
    for line in expected_summary(table, printed, None):
        if isinstance(line, Pattern):
            cells[line.parts[0]] = line.parts[1].check
        elif line.startswith("realized_level"):
            cells[line.rsplit(",", 1)[0]] = line.rsplit(",", 1)[1]
    same("M = 10: thresholds", [None, None, None],
         [cells["threshold_%s,mlg," % a]("0.1") for a in ("0.01", "0.05", "0.10")])
    expect("M = 10: not entry 1", cells["threshold_0.10,mlg,"]("0.2") is not None)
    same("M = 10: realized levels", ["0", "0", "0"],
         [cells["realized_level_%s,mlg" % a] for a in ("0.01", "0.05", "0.10")])
    same("chain: no simulated repeat", [], replayed)
    for what, bad in (
            ("lineage rows from the MLGs", good.replace("G,mll,2", "G,mll,5")),
            ("a count as a double", good.replace("N,mlg,7", "N,mlg,7.0")),
            ("R not exact", good.replace(repr(4 / 6), repr(math.nextafter(4 / 6, 1)))),
            ("shannon off by 1e-11", good.replace(repr(mlg_h), repr(mlg_h * (1 + 1e-11)))),
            ("shannon not in shortest form", good.replace(repr(mlg_h), repr(mlg_h) + "0")),
            ("an empty list's threshold 1", good.replace("threshold_0.01,mlg,NA",
                                                         "threshold_0.01,mlg,1")),
            ("genets counting the clones once", good.replace("genets_0.05,mlg,7",
                                                             "genets_0.05,mlg,5")),
            ("the old Pareto beta", good.replace(
                repr(math.log10(7 / 4) / math.log10(2)), repr(math.log10(2.5) / math.log10(2)))),
            ("beta not negated", good.replace("pareto_beta,mll,",
                                              "pareto_beta,mll,-")),
            ("the lineage rows left out", good[:good.index("G,mll")]),
            ("rows in another order", good.replace("single,mlg,3\nclonal,mlg,2",
                                                   "clonal,mlg,2\nsingle,mlg,3")),
            ("a CR before the line end", good.replace("\n", "\r\n"))):
        if not summary_problems("chain.txt", table, replayed, bad):
            failures.append("summary file: not caught: " + what)

    # samples.txt (sizes 2, 1, 1; the list 0.26171875, 0.6875 as worked in
    # self_test_driver): every threshold is entry 0, 67/256 exactly; the
    # realized levels are 0 (0.02, 0.1 and 0.2 of a value round to 0).
    # H = 1.5 ln 2, lambda = 3/8, E5 = (5/3)/(2^1.5 - 1), beta = 1 (units
    # of sizes 1 and 2 hold 4 and 2 samples).  Both data sets have a
    # smallest value at most the clone's PSex (0.6875 itself, and 67/256):
    # family-wise p = 3/3, 'ns', and the genets are 3 + 1.
    data_file, table = table_of("samples.txt")
    replayed = table.replay_simulation(ListedDraws([0.1, 0.2, 0.6, 0.9, 0.55, 0.6, 0.8, 0.1]))
    h = 1.5 * math.log(2)
    rows = [("G", "3"), ("N", "4"), ("R", repr(2 / 3)), ("Pd", "0.75"), ("single", "2"),
            ("clonal", "1"), ("simpson", repr(5 / 6)), ("shannon", repr(h)),
            ("evenness_E5", repr((5 / 3) / (2 ** 1.5 - 1))),
            ("pielou_J", repr(h / math.log(3))), ("pareto_beta", "1")]
    good = "statistic,unit,value\n" + "".join("%s,mlg,%s\n" % row for row in rows) + (
        "simulated_repeats,mlg,2\n"
        "threshold_0.01,mlg,0.26171875\nrealized_level_0.01,mlg,0\n"
        "threshold_0.05,mlg,0.26171875\nrealized_level_0.05,mlg,0\n"
        "threshold_0.10,mlg,0.26171875\nrealized_level_0.10,mlg,0\n"
        "genets_0.05,mlg,4\n") + "".join(
        "%s,mll,%s\n" % row for row in rows)
    same("samples.txt: summary file", [],
         summary_problems("samples.txt", table, replayed, good))
    for what, bad in (
            ("a threshold with 6 digits", good.replace("0.10,mlg,0.26171875",
                                                       "0.10,mlg,0.261719")),
            ("a threshold from the other end", good.replace("0.10,mlg,0.26171875",
                                                            "0.10,mlg,0.6875")),
            ("a realized level of alpha", good.replace("realized_level_0.05,mlg,0",
                                                       "realized_level_0.05,mlg,0.05")),
            ("M miscounted", good.replace("repeats,mlg,2", "repeats,mlg,1")),
            ("the tie not counted", good.replace("genets_0.05,mlg,4", "genets_0.05,mlg,3"))):
        if not summary_problems("samples.txt", table, replayed, bad):
            failures.append("summary file: not caught: " + what)
    return failures


def tail_of(count, n, p):
    """P(X >= n) for X ~ B(count, p), p a Fraction: a plain hand formula."""
    return sum(math.comb(count, i) * p ** i * (1 - p) ** (count - i) for i in range(n, count + 1))


def self_test_formats():
    """The number and text forms of the samples file."""
    failures = []
    # What std::to_chars writes for these doubles (shortest digits; fixed
    # or scientific by length, fixed on a tie; exponents of two digits).
    for value, text in ((1e-5, "1e-05"), (0.6177193984, "0.6177193984"), (1.0, "1"),
                        (0.0, "0"), (1e21, "1e+21"), (123456789012.0, "123456789012"),
                        (1.5e-7, "1.5e-07"), (4.8880122e-316, "4.8880122e-316"),
                        (0.001, "0.001"), (100.0, "100"), (1e-4, "1e-04"),
                        (0.00012, "0.00012"), (5e-324, "5e-324"), (0.25, "0.25"),
                        (0.1 + 0.2, "0.30000000000000004"), (1.2345e16, "1.2345e+16"),
                        (float("nan"), "NA"), (float("inf"), "NA")):
        if shortest(value) != text:
            failures.append("shortest(%r) is %r, not %r" % (value, shortest(value), text))
    for name, cell in (('a"b', '"a""b"'), ("x,y", '"x,y"'), ("r\r", '"r\r"'),
                       ("l\nm", '"l\nm"'), ("plain", "plain"), ("", "")):
        if csv_field(name) != cell:
            failures.append("csv_field(%r) is %r, not %r" % (name, csv_field(name), cell))
    return failures


def self_test_psex():
    """The program's PSex function: 1 - S bit for bit, or the upper tail
    summed directly where S > 1 - 1e-5."""
    failures = Failures()
    expect = failures.expect

    # Lower sum 5/16 exactly: 1 - S is the one double 0.6875.
    psex = program_psex(0.5, 2, 4)
    expect("PSex(0.5, 2, 4) is exactly 0.6875", psex.value == 0.6875 and psex.holds(0.6875)
           and not psex.holds(math.nextafter(0.6875, 1.0)))
    # N = 1642, n = 25, PGen 1.52408e-15: S is 1 - 4.96e-14 in double, so
    # 1 - S would print 4.9627e-14; the tail is 4.8880122e-316, almost all
    # of it the i = 25 term C(1642, 25) g^25 (1 - g)^1617 (the next term
    # is 1617 g / 26 ~ 1e-13 of it).
    g = float("1.52408e-15")
    psex = program_psex(g, 25, 1642)
    log_term = (math.lgamma(1643) - math.lgamma(26) - math.lgamma(1618) + 25 * math.log(g)
                + 1617 * math.log1p(-g))
    log_exact = math.log(psex.exact.numerator) - math.log(psex.exact.denominator)
    expect("small tail: exact value 4.8880122e-316", abs(log_exact - log_term) < 1e-9)
    expect("small tail: S above 1 - 1e-5", psex.sum is not None and psex.sum > TAIL_BOUNDARY)
    expect("small tail: shortest form accepted", psex.shortest_ok("4.8880122e-316"))
    expect("small tail: 6 digits accepted", psex.six_digits_ok("4.88801e-316"))
    expect("small tail: one subnormal step off accepted", psex.holds(4.8880122e-316 + 5e-324))
    expect("small tail: 1 - S rejected", not psex.six_digits_ok(fmt(1.0 - psex.sum))
           and not psex.shortest_ok(shortest(1.0 - psex.sum)))
    expect("small tail: 0 rejected", not psex.shortest_ok("0"))
    expect("small tail: not shortest rejected", not psex.shortest_ok("4.88801220e-316"))
    # A tail near 1e-6, normal range: 1e-12 relative, no more.
    psex = program_psex(0.01, 5, 20)
    tail = tail_of(20, 5, Fraction(0.01))
    expect("tail near 1e-5: exact", psex.exact == tail and psex.value is None)
    expect("tail near 1e-5: within 1e-12", psex.holds(float(tail) * (1 + 5e-13))
           and not psex.holds(float(tail) * (1 + 3e-12)))
    # A tail below the smallest double may be 0.
    psex = program_psex(1e-200, 3, 10)
    expect("tail below the smallest double: 0 accepted", psex.shortest_ok("0"))
    return failures


def self_test_driver(scratch, entries):
    """The samples file, the repeats warning, the FIS null and the command
    line, on the files of SELF_TEST_FILES (written into 'scratch')."""
    failures = Failures()
    same = failures.same

    def judged(name, draws, samples_text):
        """The disagreements of a samples file for the file 'name' whose
        simulation draws the numbers 'draws'."""
        data_file, table = table_of(name)
        replayed = table.replay_simulation(ListedDraws(draws))
        comparison = Comparison(name)
        check_result_files(comparison, name, table, data_file, None, None, samples_text,
                           replayed)
        return comparison.problems

    # samples.txt: allele 1 twice of 4 (PGen 0.5), 2 and 3 once (0.25).
    # MLG1 = 1 (a"b, d), PSex 1 - (1/16 + 4/16) = 0.6875; MLG2 = 2, MLG3 = 3.
    # Draws, one per sample: 0.1 0.2 0.6 0.9 -> 1 1 2 3: allele 1 twice,
    # PSex 0.6875 again; 0.55 0.6 0.8 0.1 -> 2 2 3 1: allele 2 twice, PSex
    # 1 - (81 + 108)/256 = 67/256.  List 0.26171875, 0.6875: one value
    # strictly below 0.6875 (the equal one is not), p-value 1/2; every
    # threshold is entry 0, not above 0.6875: ns.  Family-wise: the two
    # data sets' smallest values are 0.6875 (a tie, which counts) and
    # 67/256, both at most 0.6875: p = (2 + 1) / (2 + 1) = 1, ns.
    draws = [0.1, 0.2, 0.6, 0.9, 0.55, 0.6, 0.8, 0.1]
    good = ('sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n'
            '"a""b",1,2,0.5,0.6875,0.5,ns,1,1,ns\n'
            'c,2,1,0.25,NA,NA,NA,2,NA,NA\n'
            'd,1,2,0.5,0.6875,0.5,ns,1,1,ns\n'
            'e,3,1,0.25,NA,NA,NA,3,NA,NA\n')
    same("samples file: hand-worked", [], judged("samples.txt", draws, good))
    for what, bad in (
            ("name not quoted", good.replace('"a""b"', 'a"b')),
            ("the equal simulated value counted as below",
             good.replace("0.6875,0.5,ns", "0.6875,1,ns")),
            ("PSex not in shortest form", good.replace("0.6875,", "0.68750,")),
            ("PSex in scientific form", good.replace("0.6875,", "6.875e-01,")),
            ("a single MLG given a PSex", good.replace("c,2,1,0.25,NA,NA,NA",
                                                        "c,2,1,0.25,1,0,ns")),
            ("a clonal MLG given NA", good.replace("d,1,2,0.5,0.6875,0.5,ns",
                                                   "d,1,2,0.5,NA,NA,NA")),
            ("rows in table order",
             good.replace("c,2,1,0.25,NA,NA,NA,2,NA,NA\nd,1,2,0.5,0.6875,0.5,ns,1,1,ns",
                          "d,1,2,0.5,0.6875,0.5,ns,1,1,ns\nc,2,1,0.25,NA,NA,NA,2,NA,NA")),
            ("lineage not the MLG number", good.replace("NA,NA,NA,3", "NA,NA,NA,1")),
            ("the tie not counted family-wise", good.replace(",1,1,ns", ",1,0.6666666666666666,ns")),
            ("K without the real data set", good.replace(",1,1,ns", ",1,1.5,ns")),
            ("a family-wise level that its p-value does not give",
             good.replace(",1,1,ns", ",1,1,*")),
            ("a single MLG given a family-wise p-value",
             good.replace("NA,NA,NA,2,NA,NA", "NA,NA,NA,2,1,ns")),
            ("the family-wise columns left out", good.replace(",1,1,ns", ",1")),
            ("a CR before the line end", good.replace("\n", "\r\n")),
            ("an empty line at the end", good + "\n"),
            ("no line end at the end", good[:-1]),
            ("a Datafile line", "Datafile,samples.txt\n" + good)):
        if not judged("samples.txt", draws, bad):
            failures.append("samples file: not caught: " + what)
    model = RunModel(["samples.txt"], scratch, entries, generator=ListedDraws(draws))
    same("samples file: standard output", [
        "Reading file samples.txt", "Results are written to 'simresults_samples.txt.csv'."],
        model.stdout)
    same("samples file: the repeats warning", [
        "warning: only 2 simulated repeats; levels finer than 1/2 are not resolved "
        "(the 0.001 level needs 1000): raise SIMULATIONS."], model.stderr)
    same("samples file: written", ["fulltable_samples.txt.csv", "samples_samples.txt.csv",
                                   "simresults_samples.txt.csv", "summary_samples.txt.csv"],
         sorted(model.result_files()))

    # norepeat.txt: A and B each 1/2, 1/4, 1/4.  Draws (A, B per sample):
    # 0.1 0.1 -> 1,5; 0.6 0.1 -> 2,5; 0.9 0.1 -> 3,5; 0.1 0.6 -> 1,6: no
    # repeat, M = 0.  MLG1 = 1,5 (p, q), PGen 1/4, PSex 67/256 as above;
    # empty list: no p-value and no level (NA).  The one data set has no
    # repeat: family-wise p = (0 + 1) / (1 + 1) = 0.5, ns.
    draws = [0.1, 0.1, 0.6, 0.1, 0.9, 0.1, 0.1, 0.6]
    good = ('sample,mlg,n,pgen,psex,p_value,level,mll,p_familywise,level_familywise\n'
            'p,1,2,0.25,0.26171875,NA,NA,1,0.5,ns\nq,1,2,0.25,0.26171875,NA,NA,1,0.5,ns\n'
            'r,2,1,0.0625,NA,NA,NA,2,NA,NA\ns,3,1,0.0625,NA,NA,NA,3,NA,NA\n')
    same("no repeat: samples file", [], judged("norepeat.txt", draws, good))
    for what, bad in (("a p-value from an empty list", good.replace("NA,NA,1,0.5", "0,***,1,0.5")),
                      ("the data set without a repeat left out of K",
                       good.replace(",0.5,ns", ",1,ns"))):
        if not judged("norepeat.txt", draws, bad):
            failures.append("no repeat: not caught: " + what)
    model = RunModel(["norepeat.txt"], scratch, entries, generator=ListedDraws(draws))
    same("no repeat: the repeats warning", [
        "warning: no simulated repeats; the significance of repeated genotypes is undefined: "
        "raise SIMULATIONS."], model.stderr)

    # The family-wise count by hand, on data sets given directly: K = 5;
    # the clone of samples.txt has PSex 0.6875.  Data set 1's only repeat
    # lies above (PGen 3/4 twice: 1 - 1/256 - 12/256 = 0.949), data set 2
    # ties (the same PGen and n), data set 3 has one repeat below (67/256)
    # and one above; two data sets have none.  c = 2, p = 3/6.
    data_file, table = table_of("samples.txt")
    table.simulations = 5
    above, tie, below = (program_psex(0.75, 2, 4), program_psex(0.5, 2, 4),
                         program_psex(0.25, 2, 4))
    judgement = FamilywiseJudgement(table, (1,), [[above], [tie], [below, above]])
    same("family-wise count by hand", ((2, 2), {"0.5"}, {"ns"}),
         (judgement.c, judgement.p_values(), judgement.levels()))
    same("family-wise without a replay: any count", (0, 5),
         FamilywiseJudgement(table, (1,), None).c)
    same("family-wise levels at their bounds", ["***", "**", "**", "*", "*", "ns"],
         [familywise_level(Fraction(c + 1, 1000)) for c in (0, 1, 9, 10, 49, 50)])

    # mono.txt: every simulation adds one value; 999 give the warning,
    # 1000 do not.  Without a repeated MLG there is no warning at all.
    model = RunModel(["mono.txt"], scratch, entries)
    same("999 repeats: warning", [
        "warning: only 999 simulated repeats; levels finer than 1/999 are not resolved "
        "(the 0.001 level needs 1000): raise SIMULATIONS."], model.stderr)
    with open(os.path.join(scratch, "mono1000.txt"), "wb") as stream:
        stream.write(SELF_TEST_FILES["mono.txt"].replace("=999", "=1000").encode("latin-1"))
    model = RunModel(["mono1000.txt"], scratch, dict(entries, **{"mono1000.txt": False}))
    same("1000 repeats: no warning", [], model.stderr)
    model = RunModel(["untyped-haploid.txt"], scratch, entries)
    same("no repeated MLG: no warning", [], [line for line in model.stderr
                                             if line.startswith("warning: only")])

    # fis-null.txt: p = q = 1/2, He 1/2, Ho 4/10, Fis 0.2.  AB: 2pq(1 - F)
    # = 0.4; AA, BB: F p + (1 - F) p^2 = 0.3.  AB n = 4 of 10: PSex
    # P(X >= 4 | 10, 0.4) = 0.6177193984.  Every chance repeat is judged
    # with the same Fis, so its PSex is a tail of B(10, 0.4) or B(10, 0.3)
    # at its count; with the Fis of a table holding the repeat alone a
    # heterozygous repeat had PGen 1 and PSex 1, and the list (full of 1s
    # and of the larger homozygote tails) called AB significant (*).
    data_file, table = table_of("fis-null.txt")
    same("FIS null: Fis", ["0.2"], [fmt(v) for v in table.fis])
    same("FIS null: PGen", ["0.3", "0.4", "0.3"], [fmt(table.pgen[a]) for a in table.order])
    same("FIS null: AB PSex", "0.6177193984", "%.10f" % float(table.psex[(1, 2)].exact))
    replayed = table.replay_simulation(LaggedFibonacci607())
    tails = {(p, n): tail_of(10, n, p) for p in (Fraction(2, 5), Fraction(3, 10))
             for n in range(2, 11)}
    strays = [r for r in replayed
              if not any(abs(float(r.exact) - float(t)) < 1e-12 for t in tails.values())]
    same("FIS null: simulated values that are no tail of B(10, 0.4) or B(10, 0.3)",
         [], [fmt(r.key) for r in strays[:5]])
    same("FIS null: heterozygous repeats judged", True,
         any(abs(r.g - 0.4) < 1e-12 for r in replayed))
    printed_list = [fmt(r.key) for r in replayed]
    same("FIS null: AB level", {"ns"},
         Judgement(table, (1, 2), fmt(table.psex[(1, 2)].key), printed_list, replayed).codes())

    # chain.txt has MLLDISTANCE: five files, the distances file last.  Its
    # summary file exists and a folder holds the distances file's name: the
    # set is refused before anything is written, no warning, status 1.
    pairs = [(0.0, 0.0), (0.0, 0.4), (0.4, 0.4), (0.0, 0.9), (0.4, 0.9), (0.9, 0.9),
             (0.0, 0.65)]
    draws = [u for pair in pairs for u in pair + (0.0, 0.0)] * 2
    model = RunModel(["chain.txt"], scratch, entries, generator=ListedDraws(list(draws)))
    same("chain: written", ["Reading file chain.txt",
                            "Results are written to 'simresults_chain.csv'."], model.stdout)
    same("chain: files", ["distances_chain.csv", "fulltable_chain.csv", "samples_chain.csv",
                          "simresults_chain.csv", "summary_chain.csv"],
         sorted(model.result_files()))
    model = RunModel(["chain.txt"], scratch,
                     dict(entries, **{"summary_chain.csv": False, "distances_chain.csv": True,
                                      "simresults_chain.csv": False}),
                     generator=ListedDraws(list(draws)))
    same("chain, distances not written: standard output", ["Reading file chain.txt"],
         model.stdout)
    same("chain, distances not written: standard error", [
        "note: missing allele copies: M 1",
        "warning: no simulated repeats; the significance of repeated genotypes is undefined: "
        "raise SIMULATIONS.",
        "error: 'distances_chain.csv' exists and is not a regular file.",
        "error: no result file of 'chain.txt' was replaced."], model.stderr)
    same("chain, distances not written: status", 1, model.status)
    same("chain, distances not written: the new files", [], sorted(model.result_files()))
    # Without its MLLDISTANCE line, chain.txt's run removes the distances
    # file of the earlier run, after the overwrite warnings.
    with open(os.path.join(scratch, "chain.txt"), "rb") as stream:
        without = stream.read().replace(b"MLLDISTANCE=", b"NOTE=")
    with open(os.path.join(scratch, "plain.txt"), "wb") as stream:
        stream.write(without)
    model = RunModel(["plain.txt"], scratch,
                     dict(entries, **{"plain.txt": False, "summary_chain.csv": False,
                                      "distances_chain.csv": False}),
                     generator=ListedDraws(list(draws)))
    same("chain without lineages: standard output", [
        "Reading file plain.txt",
        "Warning: overwriting output file 'summary_chain.csv'.",
        "Warning: removing output file 'distances_chain.csv' of an earlier run.",
        "Results are written to 'simresults_chain.csv'."], model.stdout)

    # The command line: options are read before any file.
    def console(arguments, files=None):
        model = RunModel(arguments, scratch, files if files is not None else entries)
        return model.fixed_output, model.stdout, model.stderr, model.status

    same("--help", ("help", [], [], 0), console(["samples.txt", "--help"]))
    same("-h", ("help", [], [], 0), console(["-h"]))
    same("--version", ("version", [], [], 0), console(["--version"]))
    same("unknown option, after a data file", (
        None, [], ["error: unknown option '-q' (try --help)"], 2),
        console(["samples.txt", "-q"]))
    same("a lone -", (None, [], ["error: unknown option '-' (try --help)"], 2), console(["-"]))
    same("a folder named like an option", (
        None, [], ["error: unknown option '-d' (try --help)"], 2),
        console(["-d"], dict(entries, **{"-d": True})))
    same("-- ends the options", (None, [], [], 2), console(["--", "-q"]))
    same("--help after --", (None, [], [], 2), console(["--", "--help"]))
    same("nothing", (None, [], [], 0), console([]))
    same("only --", (None, [], [], 0), console(["--"]))
    shutil.copyfile(os.path.join(scratch, "mono.txt"), os.path.join(scratch, "-m.txt"))
    same("a data file named like an option", ["Reading file -m.txt"],
         console(["-m.txt"], dict(entries, **{"-m.txt": False}))[1][:1])
    # --set: said once, in the order given, the later value of a key kept.
    same("--set, the console", [
        "Set from the command line: FREQUENCY=MLG, TITLE=set",
        "Reading file mono.txt", "Reading file mono.txt"],
        [line for line in console(["--set", "FREQUENCY=SAMPLE", "--set=TITLE=set",
                                   "--set", "FREQUENCY=MLG", "mono.txt", "mono.txt"])[1]
         if not line.startswith(("Results", "Warning"))])
    model = RunModel(["--set", "TITLE=set", "--set", "NOTE=x", "mono.txt"], scratch, entries)
    same("--set, the run name", "set", model.passes[0][1].title)
    same("--set, the echo", ("set", "x"), (model.passes[0][2].parameters["TITLE"],
                                          model.passes[0][2].parameters["NOTE"]))
    same("--set, an unknown key", True,
         "warning: unknown header key 'NOTE' ignored." in model.stderr)
    same("--set without a value", (None, [], [
        "error: --set needs KEY=VALUE, not 'MODEL' (try --help)"], 2),
        console(["--set", "MODEL", "mono.txt"]))
    same("--set after a data file", (None, [], [
        "error: --set MODEL=FIS comes after a data file; settings come before the data files "
        "(try --help)"], 2), console(["mono.txt", "--set", "MODEL=FIS"]))
    same("--set with nothing to set", (None, [], [], 0), console(["--set", "MODEL=FIS"]))
    version = project_version()
    if version is not None:
        model = RunModel(["--version"], scratch, entries)
        same("--version: the version line", [],
             check_run("version", model, "psex %s\n" % version, "", 0, {}))
        if not check_run("version", model, "psex\n", "", 0, {}):
            failures.append("--version: not caught: no version")
    return failures


# --------------------------------------------------------------------------
# Self-test of the analyses switched on by header keys.
# --------------------------------------------------------------------------

ANALYSIS_SELF_TEST_FILES = {
    # I_A and rbarD: haploid, three loci, MISSING=0.  s5 lacks locus C and
    # is left out; s6 is a copy of s4 (left out of the clone-corrected set).
    "linkage.txt": (
        "PLOIDY=1\nLOCUSCOUNT=3\nLOCUSNAMES=A,B,C\nMISSING=0\nSIMULATIONS=1\nLINKAGE=0\n"
        "TITLE=linkage\n\nS,a,b,c\n"
        "s1,1,1,1\ns2,1,2,2\ns3,2,1,2\ns4,2,2,2\ns5,1,1,0\ns6,2,2,2\n"),
    # The permutation test: two loci in perfect disequilibrium.
    "ld-perm.txt": (
        "PLOIDY=1\nLOCUSCOUNT=2\nSIMULATIONS=1\nLINKAGE=3\n\nS,a,b\n"
        "s1,1,1\ns2,1,1\ns3,2,2\ns4,2,2\n"),
    # The accumulation curve: haploid, three loci, five samples.
    "curve.txt": (
        "PLOIDY=1\nLOCUSCOUNT=3\nSIMULATIONS=1\nLOCICURVE=3\n\nS,a,b,c\n"
        "s1,1,1,1\ns2,1,1,2\ns3,1,2,2\ns4,2,2,2\ns5,1,1,3\n"),
    # A chain of five MLGs one copy apart in turn (distance |i - j|).
    "methods.txt": (
        "PLOIDY=1\nLOCUSCOUNT=4\nSIMULATIONS=1\nMLLDISTANCE=2\nMLLMETHOD=AVERAGE\n\n"
        "S,a,b,c,d\ne1,2,2,2,2\na1,1,1,1,1\nb1,2,1,1,1\nc1,2,2,1,1\nd1,2,2,2,1\n"),
    # Six located samples in three MLGs, and s7 (of the first MLG) without
    # usable coordinates; diploid, two loci.
    "spatial.txt": (
        "PLOIDY=2\nLOCUSCOUNT=2\nLOCUSNAMES=A,B\nSIMULATIONS=1\nCOORDINATES=X,Y\nSPATIAL=3\n"
        "\nS,a1,a2,b1,b2,X,Y\n"
        "s7,1,1,1,2,NA,4\ns1,1,1,1,2,0,0\ns2,1,1,2,1,0,2.0\ns3,1,2,1,1,2,0\n"
        "s4,2,1,1,1,5,0\ns5,2,2,1,3,5,3\ns6,2,2,3,1,8e0, +3\n"),
}


def analysis_table(name, replace=None):
    text = ANALYSIS_SELF_TEST_FILES[name]
    for old, new in (replace or {}).items():
        text = text.replace(old, new)
    data_file = DataFile(text.encode("latin-1"))
    return data_file, Table(data_file)


def draw_for(t, m):
    """The smallest 64-bit draw that random_index maps to t in [0, m)."""
    return -(-t * 2 ** 64 // m)


def positioned(draws, asked=None):
    """A stream function over given numbers: position p starts at
    draws[p]; the positions asked for are recorded in 'asked'."""
    def stream(position):
        if asked is not None:
            asked.append(position)
        return ListedDraws(draws[position:])
    return stream


def self_test_analyses(scratch, entries):
    failures = Failures()
    same = failures.same
    expect = failures.expect

    # ----- the keys and their messages -----
    errors = []
    settings = interpret_analysis_keys({
        "LINKAGE": "+9", "LOCICURVE": "0", "MLLMETHOD": "average", "RAREFY": "2.5",
        "COORDINATES": "X", "SPATIAL": "-1", "SPATIALCLASSES": "5,5"}, errors)
    same("analysis keys: values not accepted", [
        "warning: LINKAGE '+9' is not a whole number >= 0; no linkage analysis is run.",
        "warning: LOCICURVE '0' is not a whole number >= 1; no locus accumulation curve is "
        "made.",
        "warning: MLLMETHOD 'average' is not NEAREST, AVERAGE or FARTHEST; using NEAREST.",
        "warning: RAREFY '2.5' is not a whole number >= 1; no rarefaction is done.",
        "error: COORDINATES 'X' is not two column names separated by a comma; no coordinates "
        "are read.",
        "warning: SPATIAL '-1' is not a whole number >= 0; no permutation test of aggregation "
        "is run.",
        "warning: SPATIALCLASSES '5,5' is not a list of ascending distances above 0; using ten "
        "classes of equal pair counts."], errors)
    same("analysis keys: all taken as absent", (None, None, "NEAREST", None, None, 0, None),
         (settings.linkage, settings.loci_curve, settings.mll_method, settings.rarefy,
          settings.coordinates, settings.spatial, settings.spatial_classes))
    errors = []
    settings = interpret_analysis_keys({
        "LINKAGE": "0", "LOCICURVE": "99999999999", "MLLMETHOD": "FARTHEST", "RAREFY": "007",
        "SPATIAL": "0", "SPATIALCLASSES": " 1.5,2e1 ,30"}, errors)
    same("analysis keys: refining keys without theirs", [
        "warning: MLLMETHOD has no effect without MLLDISTANCE.",
        "warning: SPATIAL has no effect without COORDINATES.",
        "warning: SPATIALCLASSES has no effect without COORDINATES."], errors)
    same("analysis keys: accepted values", (0, INT32_MAX, "FARTHEST", 7, [1.5, 20.0, 30.0]),
         (settings.linkage, settings.loci_curve, settings.mll_method, settings.rarefy,
          settings.spatial_classes))
    for value in (",X", "X,", "X,Y,Z", ""):
        errors = []
        interpret_analysis_keys({"COORDINATES": value}, errors)
        expect("COORDINATES %r refused" % value, len(errors) == 1)
    same("new keys are known; a key in lower case is guessed", [
        "warning: unknown header key 'linkage' ignored; did you mean 'LINKAGE'?"],
        unknown_key_warnings(dict({key: "1" for key in ANALYSIS_KEYS}, linkage="1")))

    # Coordinate cells: a decimal number with a point, spaces trimmed.
    for cell, value in (("1.5", 1.5), (" -2 ", -2.0), ("+3e2", 300.0), (".5", 0.5),
                        ("5.", 5.0), ("+.5e+1", 5.0), ("0", 0.0), ("0e-400", 0.0),
                        ("2e-310", 2e-310), ("NA", None), ("", None), ("inf", None),
                        ("nan", None), ("1e999", None), ("1e-400", None), ("0x10", None),
                        ("1 5", None), ("1.5e", None), ("-", None), ("1,5", None),
                        ("\t1", None)):
        same("coordinate cell %r" % cell, value, decimal_of(cell))
    same("class bounds", [None, None, None, [0.5]],
         [class_bounds(v) for v in ("0,1", "2,1", "1,,2", "0.5")])

    # The columns: COORDINATES names the two columns right after the
    # alleles; otherwise the table is read as if the key were absent (the
    # column count then fails as it would have).
    data_file, table = analysis_table("spatial.txt", {"X,Y\nSPATIAL": "X,Z\nSPATIAL"})
    same("coordinates not in place: messages", [
        "error: COORDINATES names 'X' and 'Z', which are not the two columns after the "
        "alleles.",
        "error: not enough columns in table according to ploidy and locus count (should be: "
        "5 has: 7)."], table.errors)
    same("coordinates not in place: no spatial files", (), analysis_prefixes(table))
    data_file, table = analysis_table("spatial.txt", {",X,Y\n": ",X,Y,Z\n", ",0,0\n": ",0,0,\n"})
    same("one column too many", [
        "error: not enough columns in table according to ploidy and locus count (should be: "
        "7 has: 8)."], table.errors)

    # ----- LINKAGE -----
    # Hand working (linkage.txt).  Locus distances of the pairs, haploid:
    #            12 13 14 16 23 24 26 34 36 46
    #   d_A       0  1  1  1  1  1  1  0  0  0
    #   d_B       1  0  1  1  1  0  0  1  1  0
    #   d_C       1  1  1  1  0  0  0  0  0  0
    #   D         2  2  3  3  2  1  1  1  1  0
    # 'all' (s1 s2 s3 s4 s6; s5 is untyped at C): P = 10 pairs, S1_j = S2_j
    # = 6, 6, 4; S1 = 16, S2 = 34.  Nj = 10 S2_j - S1_j^2 = 24 each, N_D =
    # 340 - 256 = 84: I_A = 84/72 - 1 = 1/6; var_j = 0.24 each, rbarD =
    # (84 - 72)/100 / (2 (3 x 0.24)) = 1/12.
    # 'clone_corrected' (s1 s2 s3 s4; the MLG of s5 left out): the pairs
    # without s6, P = 6: S1_j = S2_j = 4, 4, 3; S1 = 11, S2 = 4+4+9+4+1+1 =
    # 23.  Nj = 8, 8, 9 (var 2/9, 2/9, 1/4), N_D = 138 - 121 = 17: I_A =
    # 17/25 - 1 = -8/25; rbarD = (17 - 25)/36 / (2 (2/9 + 2 sqrt(1/18))) =
    # -1/(2 + 3 sqrt 2).
    data_file, table = analysis_table("linkage.txt")
    every = LinkageData([a for a in table.sample_alleles if 0 not in a], 3, 1)
    same("linkage, all: sums by hand", ([6, 6, 4], [6, 6, 4], 16, 34),
         (every.s1j, every.s2j, every.s1, every.s2))
    ia, rbar_d = association_indices(every)
    same("linkage, all: I_A evaluated as prescribed", float(84) / float(72) - 1.0, ia)
    expect("linkage, all: I_A is 1/6 (%r)" % ia, abs(ia - 1 / 6) < 1e-15)
    expect("linkage, all: rbarD is 1/12 (%r)" % rbar_d, abs(rbar_d - 1 / 12) < 1e-15)
    root = math.sqrt(0.24 * 0.24)
    same("linkage, all: rbarD evaluated as prescribed",
         float(84 - 72) / (10.0 * 10.0) / (2.0 * (root + root + root)), rbar_d)
    same("linkage: the file", [
        "all,5,3,1,%s,NA,%s,NA,0" % (shortest(ia), shortest(rbar_d)),
        "clone_corrected,4,3,1,%s,NA,%s,NA,0" % (
            shortest(17.0 / 25.0 - 1.0), shortest(float(-8) / 36.0 / (2.0 * (
                math.sqrt(2 / 9 * (2 / 9)) + math.sqrt(2 / 9 * (9 / 36))
                + math.sqrt(2 / 9 * (9 / 36))))))],
        linkage_rows(table, 0))
    expect("linkage, clone-corrected: rbarD is -1/(2 + 3 sqrt 2)", abs(
        float(linkage_rows(table, 0)[1].split(",")[6]) + 1 / (2 + 3 * math.sqrt(2))) < 1e-15)
    same("linkage: I_A printed in full", "-0.31999999999999995",
         linkage_rows(table, 0)[1].split(",")[4])
    # One locus varying, or one sample: NA.
    same("linkage: one locus varies", (None, None), association_indices(
        LinkageData([(1, 1), (2, 1), (1, 1)], 2, 1)))
    same("linkage: one sample", (None, None), association_indices(LinkageData([(1, 1)], 2, 1)))

    # The permutation test (ld-perm.txt): A = B = 1,1,2,2, so d_A = d_B and
    # S2 = 4 x 4 = 16 (I_A = 32/16 - 1 = 1, rbarD = 1).  A shuffle in which
    # B splits the samples as A does keeps 16; any other split gives 12.
    # Draws, per permutation locus A then B, i = 3, 2, 1:
    #   1: A t = 3 2 1 (no change); B t = 1 2 1: order 0 3 2 1, B = 1 2 2 1: 12
    #   2: A t = 0 2 0: order 1 3 2 0, A = 1 2 2 1; B as in 1: 16 (a tie counts)
    #   3: nothing moves: 16
    # Two of three reach the observed: p = (1 + 2)/(3 + 1) = 0.75.  The
    # clone-corrected set has two samples (one pair, no variance): NA, its
    # permutations would start at draw 3 x 2 x 3 = 18.
    ts = [3, 2, 1, 1, 2, 1] + [0, 2, 0, 1, 2, 1] + [3, 2, 1, 3, 2, 1]
    draws = [draw_for(t, i + 1) for t, i in zip(ts, [3, 2, 1] * 6)]
    data_file, table = analysis_table("ld-perm.txt")
    data = LinkageData(table.sample_alleles, 2, 1)
    same("permutations: observed S2, I_A, rbarD", (16, (1.0, 1.0)),
         (data.s2, association_indices(data)))
    generator = ListedDraws(draws)
    same("permutations: S2 of each", [12, 16, 16],
         [data.square_sum(data.shuffled_codes(generator)) for _ in range(3)])
    asked = []
    same("permutations: the file", ["all,4,2,0,1,0.75,1,0.75,3",
                                    "clone_corrected,2,2,0,NA,NA,NA,NA,3"],
         linkage_rows(table, 3, positioned(draws, asked)))
    same("permutations: stream positions", [0], asked)
    # With a varying clone-corrected set (linkage.txt, P = 2: 'all' takes 2
    # x 3 x 4 draws), its permutations start at draw 24.
    data_file, table = analysis_table("linkage.txt")
    asked = []
    linkage_rows(table, 2, positioned([0] * 50, asked))
    same("permutations: the clone-corrected stream starts after all of 'all'", [0, 24], asked)
    # The sum of squares of a shuffle by loci pairs against the plain sum
    # over pairs, on random tables (haploid and diploid, many alleles).
    source = random.Random(23)
    for trial in range(30):
        ploidy = 1 + trial % 2
        loci = 2 + trial % 4
        n = 2 + source.randrange(12)
        genotypes = [tuple(source.randrange(1, 2 + trial % 6) for _ in range(ploidy * loci))
                     for _ in range(n)]
        data = LinkageData(genotypes, loci, ploidy)
        codes = data.shuffled_codes(SplitMix64(trial))
        expect("permutations: S2 by loci pairs, trial %d" % trial,
               data.square_sum(codes) == data.plain_sums(codes)[3])
        expect("permutations: a shuffle keeps S1_j and S2_j, trial %d" % trial,
               data.plain_sums(codes)[:2] == (data.s1j, data.s2j))
    same("linkage seed", b"psex ld ", LINKAGE_SEED.to_bytes(8, "big"))
    generator = SplitMix64(LINKAGE_SEED)
    same("a stream at position 3 is the fourth draw",
         [generator() for _ in range(4)][3], stream_at(LINKAGE_SEED, 3)())

    # ----- LOCICURVE -----
    # curve.txt, every subset (R = 3): k = 1: A {1,2} 2, B {1,2} 2, C {1,2,3}
    # 3: sorted 2 2 3, q25 at h = 0.5 between equal values 2, median 2, q75
    # at h = 1.5: 0.5 x 2 + 0.5 x 3 = 2.5, mean 7/3.  k = 2: AB 3, AC 4, BC
    # 4: q25 at h = 0.5 3.5, median 4, q75 4, mean 11/3.  k = 3: five MLGs.
    data_file, table = analysis_table("curve.txt")
    same("curve: every subset", ["1,3,2,2,2,2.5,3,2.3333333333333335",
                                 "2,3,3,3.5,4,4,4,3.6666666666666665",
                                 "3,1,5,5,5,5,5,5"],
         accumulation_rows(table, 3, ListedDraws([])))
    # R = 2: drawn subsets for k = 1 and 2 (three each), all for k = 3.
    # k = 1: u = 2 (C: 3), u = 0 (A: 2): sorted 2 3, q25 at h = 0.25: 0.75 x
    # 2 + 0.25 x 3 = 2.25, median 2.5, q75 2.75, mean 2.5.  k = 2: t = 0
    # u = 1 (0 1 2 -> 1 0 2), t = 1 u = 1 + 1 (-> 1 2 0): BC 4; then u = 0,
    # u = 1 + 0: AB 3; sorted 3 4: 3.25, 3.5, 3.75, mean 3.5.  Six draws.
    draws = ListedDraws([draw_for(2, 3), draw_for(0, 3), draw_for(1, 3), draw_for(1, 2),
                         draw_for(0, 3), draw_for(0, 2), 12345])
    same("curve: drawn subsets", ["1,2,2,2.25,2.5,2.75,3,2.5", "2,2,3,3.25,3.5,3.75,4,3.5",
                                  "3,1,5,5,5,5,5,5"], accumulation_rows(table, 2, draws))
    same("curve: six draws taken", [12345], draws.values)
    same("type 7 quartiles of 1..4", [1.75, 2.5, 3.25],
         [type7_quantile([1, 2, 3, 4], p) for p in (0.25, 0.5, 0.75)])
    same("curve seed", b"psex cur", LOCICURVE_SEED.to_bytes(8, "big"))

    # ----- MLLMETHOD -----
    # methods.txt: MLGs A 1111 < B 2111 < C 2211 < D 2221 < E 2222, d(i, j)
    # = |i - j|.  k = 2.  NEAREST: one lineage.  FARTHEST: AB (1; ties with
    # BC, CD, DE go to the smallest pair); then AB-C 2, AB-D 3, AB-E 4, CD
    # 1, CE 2, DE 1: CD; then CD-E max(2, 1) = 2 <= 2: CDE; AB-CDE 4: stop.
    # AVERAGE: AB; AB-C 3/2, AB-D 5/2, AB-E 7/2, CD 1, DE 1: CD (the tie to
    # (C, D), not (D, E)); CD-E 3/2 < AB-CD 8/4: CDE; AB-CDE 15/6 > 2: stop.
    # (Merging DE first would have ended in ABC, DE.)  Samples e1 a1 b1 c1
    # d1: lineages 2 1 1 2 2 for both.  k = 3: AVERAGE goes on to merge
    # AB-CDE (15/6 <= 3): one lineage; FARTHEST stops at 4.
    for method, k, lineages in (("NEAREST", "2", [1] * 5), ("AVERAGE", "2", [2, 1, 1, 2, 2]),
                                ("FARTHEST", "2", [2, 1, 1, 2, 2]),
                                ("AVERAGE", "3", [1] * 5), ("FARTHEST", "3", [2, 1, 1, 2, 2]),
                                ("AVERAGE", "0", [5, 1, 2, 3, 4])):
        data_file, table = analysis_table("methods.txt", {
            "AVERAGE": method, "MLLDISTANCE=2": "MLLDISTANCE=" + k})
        same("%s, k = %s: lineages" % (method, k), lineages,
             [table.lineage[a] for a in table.sample_alleles])
        same("%s, k = %s: the distance histogram" % (method, k), {1: 4, 2: 3, 3: 2, 4: 1},
             table.observed_distances)
    # A tie between a mean and a distance, broken by the pair: after 0-1
    # (1), 01-2 has the mean (1 + 3)/2 = 2 and 2-3 the distance 2: (0, 2)
    # goes first; then 012-3 (5 + 5 + 2)/3 = 4 > 2.  (Taking 2-3 first
    # would end in 01, 23: their mean 14/4 is above 2.)
    same("average: a tie broken by the pair", [0, 0, 0, 3],
         agglomerative_lineages(4, {(0, 1): 1, (0, 2): 1, (1, 2): 3, (0, 3): 5, (1, 3): 5,
                                    (2, 3): 2}, 2, "AVERAGE"))
    # Distance 0 between distinct MLGs (a missing copy) joins nothing at
    # k = 0, whatever the method.
    other = Table(DataFile(SELF_TEST_FILES["missing.txt"].replace(
        "MISSING=-9", "MISSING=-9\nMLLDISTANCE=0\nMLLMETHOD=FARTHEST").encode("latin-1")))
    same("FARTHEST, k = 0: no lineage joined", [1, 2, 3, 4],
         [other.lineage[a] for a in other.order])

    # ----- RAREFY -----
    # Sizes 3, 1, 2 (N = 6), n = 2: C(6, 2) = 15; q(3) = C(3,2)/15 = 1/5,
    # q(1) = 10/15, q(2) = 6/15; emlg = 4/5 + 1/3 + 3/5 = 26/15 (2 minus the
    # chance 4/15 that both draws hit one unit).  Var: sum q(1 - q) = 4/25 +
    # 2/9 + 6/25 = 28/45; pairs: q(4) - q3 q1 = 1/15 - 2/15, q(5) - q3 q2 =
    # 0 - 2/25, q(3) - q1 q2 = 3/15 - 4/15: -16/75; Var = 28/45 - 32/75 =
    # 44/225 (= 4/15 x 11/15), SE = 2 sqrt(11) / 15.
    rarefied = Rarefaction([3, 1, 2], 2)
    same("rarefaction by hand", (Fraction(26, 15), Fraction(44, 225)),
         (rarefied.emlg, rarefied.variance))
    emlg_ok, se_ok = rarefied.emlg_check("emlg"), rarefied.se_check("emlg_se")
    same("rarefaction: the doubles accepted", [None, None],
         [emlg_ok(shortest(26 / 15)), se_ok(shortest(2 * math.sqrt(11) / 15))])
    expect("rarefaction: emlg off by 1e-12 caught", emlg_ok(shortest(26 / 15 + 1e-12)))
    expect("rarefaction: SE off by 1e-10 caught",
           se_ok(shortest(2 * math.sqrt(11) / 15 * (1 + 1e-10))))
    expect("rarefaction: not the shortest form caught", emlg_ok(repr(26 / 15) + "0"))
    for n, emlg, se in ((1, "1", "0"), (6, "3", "0"), (7, "NA", "NA")):
        ends = Rarefaction([3, 1, 2], n)
        same("rarefaction, n = %d" % n, [None, None],
             [ends.emlg_check("emlg")(emlg), ends.se_check("emlg_se")(se)])
        if n < 7:
            expect("rarefaction, n = %d: exactly" % n,
                   ends.emlg_check("emlg")(shortest(float(emlg) + 4e-16)) and
                   ends.se_check("emlg_se")("1e-300"))
    # In the summary, after genets_0.05 and after pareto_beta.  samples.txt
    # (sizes 2, 1, 1), n = 2: emlg = 2 - q, q = C(2,2)/C(4,2) = 1/6: 11/6,
    # SE sqrt(1/6 x 5/6) = sqrt(5)/6; the lineages are the MLGs.
    table = Table(DataFile(SELF_TEST_FILES["samples.txt"].replace(
        "SIMULATIONS=2", "SIMULATIONS=2\nRAREFY=2").encode("latin-1")))
    lines = expected_summary(table, ["0.5"], None)
    labels = [line.split(",")[0] if isinstance(line, str) else line.parts[0].split(",")[0]
              for line in lines]
    same("rarefaction rows in the summary", ["genets_0.05", "emlg", "emlg_se", "G"],
         labels[labels.index("genets_0.05"):labels.index("genets_0.05") + 4])
    same("rarefaction rows last of unit mll", ["pareto_beta", "emlg", "emlg_se"], labels[-3:])
    cells = [line.parts[1].check for line in lines if isinstance(line, Pattern)
             and line.parts[0].startswith("emlg")]
    same("rarefaction of samples.txt", [None] * 4,
         [cells[0](shortest(11 / 6)), cells[1](shortest(math.sqrt(5) / 6)),
          cells[2](shortest(11 / 6)), cells[3](shortest(math.sqrt(5) / 6))])

    # ----- COORDINATES -----
    # spatial.txt: s1 (0,0), s2 (0,2) of MLG 1 (1,1|1,2; s7 too, without
    # coordinates); s3 (2,0), s4 (5,0) of MLG 2 (1,2|1,1); s5 (5,3), s6 (8,3)
    # of MLG 3 (2,2|1,3).  Squared distances q:
    #   s1-s2 4  s1-s3 4  s1-s4 25  s1-s5 34  s1-s6 73
    #   s2-s3 8  s2-s4 29 s2-s5 26  s2-s6 65
    #   s3-s4 9  s3-s5 18 s3-s6 45
    #   s4-s5 9  s4-s6 18
    #   s5-s6 9
    # Subranges: MLG 1 2 (s7 not located), MLG 2 3, MLG 3 3: largest 3, mean
    # 8/3.  Nearest neighbours: s1 {s2, s3} (a tie: one of its MLG), s2
    # {s1}, s3 {s1}, s4 {s3, s5}, s5 {s4, s6}, s6 {s5}; shares s: 1, 1, 0, 1,
    # 1, 1.  S_1 = 1 + 0 + 1 = 2, S_2 = 3: Psp = (2/1 + 3/2)/6 = 7/12.  Psg =
    # 3 pairs in one MLG of 15 = 1/5.  Ac = (7/12 - 1/5)/(4/5) = 23/48.
    data_file, table = analysis_table("spatial.txt")
    same("spatial: the unlocated sample", [
        "warning: line 9: sample 's7' has no usable coordinates."], table.errors)
    same("spatial: coordinates", [None, (0.0, 0.0), (0.0, 2.0), (2.0, 0.0), (5.0, 0.0),
                                  (5.0, 3.0), (8.0, 3.0)], table.coordinates)
    # SPATIAL=3, each permutation 5 draws (i = 5..1):
    #   1: t = i throughout: the observed labels (counted);
    #   2: i = 5 t = 0: s1 and s6 swap labels: MLG 3 1 2 2 3 1; shares 0 0 0
    #      1 0 0: S_1 = 0, S_2 = 1, Psp = (1/2)/6 = 1/12 < 7/12;
    #   3: i = 1 t = 0: s1 and s2 swap their equal labels (counted).
    # p = (1 + 2)/(3 + 1).
    ts = [5, 4, 3, 2, 1] + [0, 4, 3, 2, 1] + [5, 4, 3, 2, 0]
    draws = [draw_for(t, i + 1) for t, i in zip(ts, [5, 4, 3, 2, 1] * 3)]
    spatial = SpatialAnalysis(table, positioned(draws))
    same("spatial: nearest neighbours", [[1, 2], [0], [0], [2, 4], [3, 5], [4]],
         spatial.neighbours)
    same("spatial: the file", ["unit,id,n,located,subrange", "mlg,1,3,2,2", "mlg,2,2,2,3",
                               "mlg,3,2,2,3"], spatial.expected_file())
    ac = (3.5 / 6.0 - 3.0 / 15.0) / (1.0 - 3.0 / 15.0)
    expect("spatial: Ac is 23/48", abs(ac - 23 / 48) < 1e-15)
    spatial = SpatialAnalysis(table, positioned(draws))
    same("spatial: summary rows", [
        "subrange_max,mlg,3", "subrange_mean,mlg,%s" % shortest((2.0 + 3.0 + 3.0) / 3.0),
        "aggregation_Ac,mlg,%s" % shortest(ac), "aggregation_p,mlg,0.75"],
        spatial.mlg.summary_rows("mlg"))
    same("spatial: unit mll without lineages repeats unit mlg", True, spatial.mll is spatial.mlg)
    same("spatial: Psp of the second shuffle", 0.5 / 6.0, neighbour_share(
        spatial.neighbours, [3, 1, 2, 2, 3, 1]))
    same("spatial seed", b"psex spa", SPATIAL_SEED.to_bytes(8, "big"))
    # With lineages (MLLDISTANCE=4 joins the three MLGs): unit mll has
    # rows of its own; one lineage of all: Psg = 1, Ac NA; its permutations
    # would start at draw 3 x 5 = 15.
    data_file, table = analysis_table("spatial.txt", {"SPATIAL=3": "SPATIAL=3\nMLLDISTANCE=4"})
    asked = []
    spatial = SpatialAnalysis(table, positioned(draws + [0] * 20, asked))
    same("spatial with lineages: rows", ["mll,1,7,6,8.54400374531753"],
         spatial.expected_file()[4:])
    same("spatial with lineages: Ac and p", ["aggregation_Ac,mll,NA", "aggregation_p,mll,NA"],
         spatial.mll.summary_rows("mll")[2:])
    same("spatial with lineages: mll permutations not needed", [0], asked)

    # Kinship (Loiselle).  Ramets s1..s6: A copies 1 x 6, 2 x 6 (p = 1/2,
    # n = 12, sum p(1-p) = 1/2); B 1 x 8, 2 x 2, 3 x 2 (p = 2/3, 1/6, 1/6;
    # sum p(1-p) = 2/9 + 5/36 + 5/36 = 1/2).  F(s1, s3): s1 A 1,1 B 1,2; s3 A
    # 1,2 B 1,1.  A: (1 - 1/2)(1/2 - 1/2) + (0 - 1/2)(1/2 - 1/2) = 0, plus
    # (1/2)/11.  B: (1/2 - 2/3)(1 - 2/3) = -1/18, (1/2 - 1/6)(0 - 1/6) =
    # -1/18, (0 - 1/6)(0 - 1/6) = 1/36: -1/12, plus (1/2)/11.  F = (1/22 -
    # 1/12 + 1/22) / (1/2 + 1/2) = 1/132.  F(s1, s2) (one genotype): A 1/4 +
    # 1/4, B 1/36 + 1/9 + 1/36, plus 2/22: 25/33.
    # Genets s1, s3, s5 (s7 is not located): the same frequencies from n =
    # 6: F(s1, s3) = (0 + 1/10) + (-1/12 + 1/10) = 7/60.
    ramets = KinshipSet(table, [1, 2, 3, 4, 5, 6])
    same("kinship of s1 and s3 by hand", Fraction(1, 132), ramets.kinship(1, 3)[0])
    same("kinship of s1 and s2 by hand", Fraction(25, 33), ramets.kinship(1, 2)[0])
    same("kinship of s1 and s3 among the genets", Fraction(7, 60),
         KinshipSet(table, [1, 3, 5]).kinship(1, 3)[0])
    # The integer form against the formula written out in fractions, on
    # random tables with missing copies (code 0), haploid and diploid.
    source = random.Random(24)
    for trial in range(20):
        ploidy, loci, n = 1 + trial % 2, 1 + trial % 3, 3 + trial % 5
        rows = "".join("r%d,%s,%d,%d\n" % (r, ",".join(
            str(source.choice([0, 1, 2, 2, 3])) for _ in range(ploidy * loci)), r, 0)
            for r in range(n))
        text = ("PLOIDY=%d\nLOCUSCOUNT=%d\nMISSING=0\nSIMULATIONS=1\nCOORDINATES=X,Y\n\n"
                "S,%s,X,Y\n" % (ploidy, loci, ",".join("c%d" % k for k in range(ploidy * loci)))
                + rows)
        table = Table(DataFile(text.encode("latin-1")))
        members = list(range(n))
        kin = KinshipSet(table, members)
        for i in range(n):
            for j in range(i + 1, n):
                expect("kinship by its formula, trial %d, pair %d %d" % (trial, i, j),
                       kin.kinship(i, j)[0] == loiselle_by_formula(table, members, i, j))
    data_file, table = analysis_table("spatial.txt")
    ramets, genets = kinship_of(table)
    same("kinship: the genets", [1, 3, 5], [genets.pairs[0].i, genets.pairs[0].j,
                                            genets.pairs[2].j])
    # Ten classes of 15 pairs sorted by (q, i, j): 2 2 2 2 2 1 1 1 1 1;
    # class 1 = s1-s2, s1-s3 (q 4, largest distance 2), class 2 = s2-s3,
    # s3-s4, class 3 = s4-s5, s5-s6 (ties at q 9 by file order).
    same("kinship classes", [[(1, 2), (1, 3)], [(2, 3), (3, 4)], [(4, 5), (5, 6)],
                             [(3, 5), (4, 6)], [(1, 4), (2, 5)], [(2, 4)], [(1, 5)], [(3, 6)],
                             [(2, 6)], [(1, 6)]],
         [[(p.i, p.j) for p in members] for members in ramets.classes])
    row = ramets.expected_rows()[0]
    good = "ramets,1,2,2,2,%s" % shortest(101 / 264)
    same("kinship: class 1, F1 = (25/33 + 1/132)/2 = 101/264", None, row_problem(row, good))
    expect("kinship: class 1 off by 1e-9 caught",
           row_problem(row, "ramets,1,2,2,2,%s" % shortest(101 / 264 + 1e-9)))
    expect("kinship: the largest distance as 6 digits caught",
           row_problem(ramets.expected_rows()[6], "ramets,7,5.83095,%s,1,%s" % (
               shortest(ramets.class_values[6][0]), shortest(ramets.class_values[6][2]))))
    # Fewer pairs than classes: empty classes hold 0 pairs and NA.
    same("kinship: genets, three pairs in ten classes", None,
         row_problem(genets.expected_rows()[3], "genets,4,NA,NA,0,NA"))
    # Classes by bounds: d <= 2, 2 < d <= 3 (s1-s2, s1-s3; s2-s3 at sqrt 8,
    # s3-s4, s4-s5, s5-s6); the others beyond the last bound.
    data_file, table = analysis_table("spatial.txt", {"SPATIAL=3": "SPATIALCLASSES=2,3"})
    same("kinship classes by bounds", [[(1, 2), (1, 3)], [(2, 3), (3, 4), (4, 5), (5, 6)]],
         [[(p.i, p.j) for p in members] for members in kinship_of(table)[0].classes])
    # The least-squares slope: ln d = 0, 1, 2 (d = 1, e, e^2) against F =
    # 1, 3, 5 gives 2.
    fake = type("Level", (), {})()
    fake.pairs = [type("Pair", (), {"d": d, "f": f, "tolerance": 0.0})()
                  for d, f in ((1.0, 1.0), (math.e, 3.0), (math.exp(2.0), 5.0))]
    slope, tolerance = KinshipLevel.least_squares(fake)
    expect("least squares by hand: %r" % slope, abs(slope - 2.0) < 1e-14 and tolerance < 1e-12)
    fake.pairs = fake.pairs[:1] + [type("Pair", (), {"d": 1.0, "f": 2.0, "tolerance": 0.0})()]
    same("least squares: one distance only", (None, 0.0), KinshipLevel.least_squares(fake))

    # ----- whole runs -----
    for name, text in ANALYSIS_SELF_TEST_FILES.items():
        with open(os.path.join(scratch, name), "wb") as stream:
            stream.write(text.encode("latin-1"))
    files = dict(entries, **{name: False for name in ANALYSIS_SELF_TEST_FILES})
    model = RunModel(["spatial.txt"], scratch, files, replay=False)
    same("spatial.txt: files", ["fulltable_spatial.txt.csv", "kinship_spatial.txt.csv",
                                "samples_spatial.txt.csv", "simresults_spatial.txt.csv",
                                "spatial_spatial.txt.csv", "summary_spatial.txt.csv"],
         sorted(model.result_files()))
    model = RunModel(["linkage.txt"], scratch, dict(files, **{
        "loci_linkage.csv": False, "kinship_linkage.csv": False, "linkage_linkage.csv": False,
        "distances_linkage.csv": False, "spatial_linkage.csv": True}), replay=False)
    same("linkage.txt: files of an earlier run go, in the set's order", [
        "Reading file linkage.txt",
        "Warning: overwriting output file 'linkage_linkage.csv'.",
        "Warning: removing output file 'distances_linkage.csv' of an earlier run.",
        "Warning: removing output file 'loci_linkage.csv' of an earlier run.",
        "Warning: removing output file 'kinship_linkage.csv' of an earlier run.",
        "Results are written to 'simresults_linkage.csv'."], model.stdout)

    # The files' checks catch what is wrong.
    data_file, table = analysis_table("spatial.txt")
    table._analyses = {"spatial": SpatialAnalysis(table, positioned(draws))}
    spatial_text = "\n".join(table._analyses["spatial"].expected_file()) + "\n"
    ramets, genets = kinship_of(table)

    def kinship_text(level):
        lines = []
        for number, (members, values) in enumerate(zip(level.classes, level.class_values), 1):
            largest = max((p.q for p in members), default=None)
            lines.append("%s,%d,%s,%s,%d,%s" % (
                level.level, number, na_or_shortest(largest and math.sqrt(largest)),
                na_or_shortest(values[0]), len(members), na_or_shortest(values[2])))
        return lines
    kinship_good = "\n".join([KINSHIP_HEADER] + kinship_text(ramets) + kinship_text(genets)) + \
        "\n"
    summary_good = "".join("%s,%s,%s\n" % (name, level.level, na_or_shortest(value)) for level in
                           (ramets, genets) for name, value in (
                               ("sp", level.sp), ("kinship_slope", level.slope),
                               ("kinship_first_class", level.f1)))

    def judged(texts, summary=None):
        comparison = Comparison("analyses")
        check_analysis_files(comparison, table, texts, summary)
        if summary is not None:
            comparison.lines("summary rows", kinship_summary_rows(table), summary, {})
        return comparison.problems
    same("spatial.txt: good files", [], judged({"spatial_": spatial_text,
                                                "kinship_": kinship_good}, summary_good))
    slope_text = shortest(ramets.slope)
    for what, texts, summary in (
            ("a subrange of a unit with one located sample",
             {"spatial_": spatial_text.replace("mlg,1,3,2,2", "mlg,1,3,3,2")}, None),
            ("mll rows without lineages",
             {"spatial_": spatial_text + "mll,1,3,2,2\n"}, None),
            ("kinship classes in another order",
             {"kinship_": kinship_good.replace("ramets,1,", "ramets,0,")}, None),
            ("genets before ramets",
             {"kinship_": KINSHIP_HEADER + "\n" + "\n".join(kinship_text(genets) +
                                                          kinship_text(ramets)) + "\n"}, None),
            ("a slope off by 1e-9",
             {}, summary_good.replace(slope_text, shortest(ramets.slope + 1e-9))),
            ("sp not from the printed slope and F1",
             {"kinship_": kinship_good},
             summary_good.replace("sp,ramets,%s" % shortest(ramets.sp), "sp,ramets,%s" % (
                 shortest(math.nextafter(ramets.sp, 1.0))))),
            ("F1 not the kinship of class 1",
             {"kinship_": kinship_good.replace(shortest(ramets.f1), shortest(
                 math.nextafter(ramets.f1, 1.0)))}, summary_good)):
        if not judged(texts, summary):
            failures.append("analyses: not caught: " + what)
    return failures


def loiselle_by_formula(table, members, i, j):
    """F_ij written out as the formula reads, in fractions: over the loci
    where i and j are typed and the set has at least two typed copies,
    sum_a [(x_ia - p_a)(x_ja - p_a) + p_a (1 - p_a)/(n_l - 1)] over sum_a
    p_a (1 - p_a); None when that denominator is 0."""
    ploidy = table.ploidy
    numerator = denominator = Fraction(0)
    for l in range(len(table.locus_names)):
        def copies(k):
            return table.sample_alleles[k][ploidy * l:ploidy * (l + 1)]
        typed = [k for k in members if table.missing not in copies(k)]
        pool = [a for k in typed for a in copies(k)]
        if i not in typed or j not in typed or len(pool) < 2:
            continue
        for a in sorted(set(pool)):
            p = Fraction(pool.count(a), len(pool))
            x_i = Fraction(copies(i).count(a), ploidy)
            x_j = Fraction(copies(j).count(a), ploidy)
            numerator += (x_i - p) * (x_j - p) + p * (1 - p) / (len(pool) - 1)
            denominator += p * (1 - p)
    return numerator / denominator if denominator else None


def row_problem(pattern, text):
    """What a Comparison says of one line 'text' against 'pattern' (None
    when it agrees)."""
    comparison = Comparison("row")
    comparison.lines("row", [pattern], text + "\n", {})
    return comparison.problems[0] if comparison.problems else None


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("paths", nargs="*")
    parser.add_argument("--psex", help="run this program binary on each data file")
    parser.add_argument("--case", action="store_true",
                        help="the paths are end-to-end test case folders")
    parser.add_argument("--cases", help="check every test case folder in this folder")
    parser.add_argument("--examples", nargs=2, metavar=("EXAMPLES_DIR", "EXPECTED_DIR"),
                        help="check the expected results of every shipped example")
    parser.add_argument("--argument", help="the data file argument as given to the program")
    parser.add_argument("--no-replay", action="store_true",
                        help="do not replay the simulation (the data file was not the first "
                             "of its run)")
    for prefix in ANALYSIS_PREFIXES:
        parser.add_argument("--" + prefix[:-1], metavar="FILE",
                            help="with DATAFILE ...: the %s to check" %
                            ANALYSIS_FILE_NAMES[prefix])
    parser.add_argument("--skip-missing", action="store_true",
                        help="exit 77 (skipped) when a data file does not exist")
    parser.add_argument("--self-test", action="store_true",
                        help="check this script on data files worked by hand; with a "
                             "folder argument, leave those files there")
    options = parser.parse_args()

    if options.self_test:
        if len(options.paths) > 1:
            parser.error("--self-test takes at most one folder")
        failures = self_test(options.paths[0] if options.paths else None)
        for failure in failures:
            print("self-test: " + failure)
        if failures:
            print("%d self-test failure(s)" % len(failures))
            return 1
        print("self-test: everything agrees")
        return 0

    problems = []
    checked = 0
    try:
        if options.cases:
            for name in sorted(os.listdir(options.cases)):
                if os.path.isdir(os.path.join(options.cases, name)):
                    problems += check_case(os.path.join(options.cases, name))
                    checked += 1
        elif options.examples:
            examples_dir, expected_root = options.examples
            for name in sorted(os.listdir(expected_root)):
                if os.path.isdir(os.path.join(expected_root, name)):
                    problems += check_example(examples_dir, os.path.join(expected_root, name))
                    checked += 1
        elif options.case:
            for path in options.paths:
                problems += check_case(path)
                checked += 1
        elif options.psex:
            if not options.paths:
                parser.error("no data file given")
            for path in options.paths:
                if not os.path.isfile(path):
                    if options.skip_missing:
                        print("skipped: %s is not present" % path)
                        return 77
                    parser.error("no data file %s" % path)
                problems += run_program(options.psex, path)
                checked += 1
        else:
            if not 3 <= len(options.paths) <= 6:
                parser.error("expected DATAFILE SIMRESULTS FULLTABLE [SAMPLES [SUMMARY "
                             "[DISTANCES]]]")
            data_path, sim_path, full_path = options.paths[:3]
            with open(data_path, "rb") as stream:
                data_file = DataFile(stream.read())
            table = Table(data_file)
            replayed = None if options.no_replay else table.replay_simulation(
                LaggedFibonacci607())
            texts = [None] * 5
            for k, path in enumerate(options.paths[1:]):
                with open(path, "rb") as stream:
                    texts[k] = stream.read().decode("latin-1")
            analysis_texts = {}
            for prefix in ANALYSIS_PREFIXES:
                path = getattr(options, prefix[:-1])
                if path is not None:
                    with open(path, "rb") as stream:
                        analysis_texts[prefix] = stream.read().decode("latin-1")
            comparison = Comparison(sim_path)
            check_result_files(comparison, options.argument or data_path, table, data_file,
                               texts[0], texts[1], texts[2], replayed, summary_text=texts[3],
                               distances_text=texts[4], analysis_texts=analysis_texts)
            problems += comparison.problems
            checked += 1
    except Unsupported as reason:
        print("not checked: %s" % reason)
        return 1

    for problem in problems:
        print(problem)
    if problems:
        print("%d disagreement(s)" % len(problems))
        return 1
    print("all %d checked: everything agrees" % checked)
    return 0


if __name__ == "__main__":
    sys.exit(main())
