#!/usr/bin/env python3
"""Independent re-derivation of psex's results from a data file alone.

psex groups the samples of a data file into multilocus genotypes (MLGs) and
writes two comma-separated files: a simulation results file
(simresults_<run>.csv) and a full table file (fulltable_<run>.csv).  This
script recomputes everything those files hold, and everything the program
prints on the console, without using any of the program's code, and compares
line by line.  Standard library only.

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
  LOCUSCOUNT, LOCUSNAMES, TITLE, MISSING) with its defaults and messages,
  the warnings about unknown keys (first of all the table's messages, in key
  order, with "did you mean" when the key trimmed of spaces, TABs and CRs and
  in upper case is a known one), and the column count check (a table whose
  columns do not fit lists at most as many loci as the column line has
  distinct names, one at least);
* MLG grouping (the two values of a diploid locus in ascending order, then
  MLGs ascending by allele values as signed integers), allele frequencies
  from all samples or from distinct MLGs, He, Ho, Fis, PGen under HWE or FIS
  (a negative per-locus FIS term counts as 0), G, N, R, Pd, the single and
  clonal MLG counts.  These follow the definitions in double arithmetic and
  must match the printed cells exactly;
* missing data (header key MISSING=<code>, read like atoi): a copy holding
  the code is missing.  It is grouped and printed as the code, but it is not
  counted in the frequencies (each locus is normalized over its own typed
  copies), a sample (or MLG) with a missing copy at a locus is left out of
  that locus's Ho, and a locus with a missing copy has the PGen factor 1.
  The note "note: missing allele copies: <locus> <count>, ..." follows the
  data section's warnings.  In the simulation a copy for which no allele is
  chosen holds the code (0 without MISSING);
* PSex exactly, with integers and fractions: the binomial upper tail
  1 - sum_{i<n} C(N,i) g^i (1-g)^(N-i), with g the exact value of the PGen
  double.  The program sums the terms in double, i from n-1 down to 0, and
  subtracts the sum from 1, which loses everything below about 1e-16 (a
  clone's PSex of 1e-30 prints as 0 or 4.44089e-16).  So the printed cell
  must be either the exact value or the value of that double sum, which is
  recomputed here term by term as well (C(N,i) as the running product
  (N/i)((N-1)/(i-1))..., the powers with the C library's pow).  For large N
  the terms overflow and the program sums in log space instead; there the
  printed value must lie within the rounding of the sum and of the 6-digit
  format of the exact one.  A sum above 1 + 1e-07 must bring the rounding
  warning on standard error;
* the simulated PSex list: the process-wide Boost lagged_fibonacci607
  generator (default seed 331) is replayed here from its published
  definition (minstd_rand0 seeding, 48-bit words, lags 607 and 273), the
  simulated data sets are redrawn allele by allele and the PSex of each of
  their repeated genotypes is recomputed (on a table holding just that
  genotype, which matters for MODEL=FIS).  The printed list must match value
  by value.  With --no-replay only its structure is checked (ascending,
  within [0, 1], not longer than the simulations allow);
* from the printed list: the thresholds (entry floor(alpha*(M-1)), or 1 for
  an empty list), the realized significance levels, each clonal MLG's
  Significance (the share of simulated values strictly below its PSex; a
  PSex above every simulated value gives 1, an empty list 0) and Level code
  ("ns", "*", "**", "***" against T(0.05), T(0.01), T(0.001)).  Where a
  printed value ties another at 6 digits and the replay cannot tell which
  is smaller, every outcome consistent with the tie is accepted;
* the full table: one line per sample, grouped by MLG, with the PSex and the
  p-value (the MLG's Significance) of clonal MLGs, dash cells otherwise; a
  sample name that holds a double quote is quoted as CSV quotes it.

Numbers are formatted as C's %g with 6 significant digits; undefined
statistics (R with N <= 1, Pd and Ho without samples, the Fis from such an
Ho) are the dash cell "-" with its quotes.

Usage:
  check_results.py --psex BINARY DATAFILE...
      run BINARY on each data file alone in a fresh temporary folder and
      check its console output, exit status and both result files.
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
  check_results.py DATAFILE SIMRESULTS FULLTABLE [--argument ARG] [--no-replay]
      check two result files that a run on DATAFILE wrote; ARG is the data
      file argument as it was given to the program (default: DATAFILE).
  check_results.py --self-test [FOLDER]
      check this script's derivation on small data files worked by hand;
      with FOLDER, those files are left there (to run a program on them with
      --psex).

The driver's part: a data file that cannot be opened ends the run at once
with status 2; a result file that cannot be written gives "error: cannot
write output file '<name>'."; a data file without any sample still has both
result files written, then "error: no sample was read from '<argument>'.".
Result names that come to one file once their folder parts are resolved
("simresults_x/../same.csv" and "fulltable_x/../same.csv" with both folders
present), or a run name from TITLE that leads out of the working folder,
write nothing: "error: result files of '<argument>' would overwrite each
other ('<later name>')." or "... would be written outside the working folder
('<name>').", before the no-sample message.  Each of these makes the exit
status 1.

Exit status: 0 when everything agrees, 1 when something disagrees (every
disagreement is printed), 77 with --skip-missing when a data file is absent,
2 on usage errors.
"""

import argparse
import math
import os
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
            key, c = self._take_until(c, ("=", "\n"))
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
                self._data_end(own_line, "" if end < 0 else self.text[end + 1:])
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
                return fields
            self.messages.append(
                "error:%d: data line has not enough entries (%d of %d)." % (
                    self.line, len(fields), n))
            self._data_end(own_line, self.text[self.pos:] if ended_by_lf else "")
            return None

    def _data_end(self, own_line, rest):
        """The data end at line 'own_line' before the end of the file; 'rest'
        is the text after that line.  Later lines that hold more than blanks
        were meant as data, most likely: say how many were not read."""
        later = sum(1 for piece in rest.split("\n") if piece.strip(" \t\r"))
        if later:
            self.warnings.append("warning: the data end at line %d; %d later lines were not "
                                 "read." % (own_line, later))


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


def expected_heterozygosity(frequencies):
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


KNOWN_KEYS = ("PLOIDY", "LOCUSCOUNT", "LOCUSNAMES", "FREQUENCY", "MODEL", "SIMULATIONS",
              "TITLE", "MISSING", "MLLDISTANCE")


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
        self.from_samples = not self._chooses(params, "FREQUENCY", "MLG", "SAMPLE")
        self.fis_model = self._chooses(params, "MODEL", "FIS", "HWE")
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
        # A table whose columns do not fit lists no more loci than the
        # column line has names (one at least); the names of the loci it
        # does not list are dropped without a message, unless they are
        # beyond LOCUSCOUNT.
        width = locus_count * self.ploidy
        columns_fit = data_file.column_count() == width + 1
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

        self.frequencies_failed = False
        self.simulation_errors = []
        self.mlgs = {}  # allele tuple -> sample names
        self.sample_names = []
        counts = [dict() for _ in range(held)]
        self.frequencies = [dict() for _ in range(held)]
        if not columns_fit:
            self.errors.append(
                "error: not enough columns in table according to ploidy and locus count "
                "(should be: %d has: %d)." % (width + 1, data_file.column_count()))
            self._finish_statistics()
            return

        missing_copies = [0] * locus_count
        while True:
            fields = data_file.read_data_line()
            if fields is None:
                break
            values = [atoi(fields[i + 1]) for i in range(width)]
            if self.ploidy == 2:
                # A diploid genotype is unordered: 116,114 is 114,116.
                for j in range(locus_count):
                    if values[2 * j] > values[2 * j + 1]:
                        values[2 * j], values[2 * j + 1] = values[2 * j + 1], values[2 * j]
            alleles = tuple(values)
            is_new = alleles not in self.mlgs
            self.mlgs.setdefault(alleles, []).append(fields[0])
            self.sample_names.append(fields[0])
            for j in range(locus_count):
                for k in range(self.ploidy):
                    allele = alleles[self.ploidy * j + k]
                    if allele == self.missing:
                        missing_copies[j] += 1
                    elif self.from_samples or is_new:
                        counts[j][allele] = counts[j].get(allele, 0) + 1
        self.errors += data_file.warnings
        if any(missing_copies):
            self.errors.append("note: missing allele copies: " + ", ".join(
                "%s %d" % (name, count)
                for name, count in zip(self.locus_names, missing_copies) if count))

        for j in range(locus_count):
            total = float(sum(counts[j].values()))
            self.frequencies[j] = {a: float(c) / total for a, c in counts[j].items()}
        failed = False
        for freqs in self.frequencies:
            total = 0.0
            for allele in sorted(freqs):
                total += freqs[allele]
            if abs(total - 1.0) > 1e-08:
                failed = True
        self.frequencies_failed = failed
        if failed:
            self.errors.append("error: not all frequencies sum up to +-1.0.")
        self._finish_statistics()

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
        self.psex = {}
        self.double_psex = {}
        for alleles in sorted(self.mlgs):
            names = self.mlgs[alleles]
            g = pgen(alleles, self.ploidy, self.frequencies,
                     self.fis if self.fis_model else None, self.missing)
            self.pgen[alleles] = g
            self.psex[alleles] = exact_psex(g, len(names), self.n_samples)
            self.double_psex[alleles], total_sum = double_psex(g, len(names), self.n_samples)
            warning = rounding_warning(total_sum)
            if warning:
                self.errors.append(warning)

    def single_mlg_pgen(self, alleles):
        """PGen of a simulated genotype, computed on a table that holds only
        that genotype: Ho is 1 where it is heterozygous, 0 elsewhere (and
        undefined where it is missing, but such a locus has the factor 1)."""
        fis = None
        if self.fis_model:
            fis = []
            for j, he in enumerate(self.he):
                ho = 1.0 if self.ploidy == 2 and alleles[2 * j] != alleles[2 * j + 1] else 0.0
                fis.append((he - ho) / he if he > 0.0 else 1.0)
        return pgen(alleles, self.ploidy, self.frequencies, fis, self.missing)

    def replay_simulation(self, generator):
        """Draw the simulated data sets; return (exact PSex, PGen, n) of every
        repeated genotype in them."""
        total = self.n_samples
        if self.simulations * total * len(self.frequencies) * self.ploidy > 50_000_000:
            raise Unsupported("too many draws to replay")
        walks = [sorted(f.items()) for f in self.frequencies]
        # A copy for which no allele is chosen holds the missing-data code,
        # or 0 when the file has none.
        unchosen = 0 if self.missing is None else self.missing
        values = []
        self.simulation_errors = []
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
            for alleles in sorted(groups):
                n = groups[alleles]
                if n > 1:
                    g = self.single_mlg_pgen(alleles)
                    value, total_sum = double_psex(g, n, total)
                    if self.frequencies_failed:
                        self.simulation_errors.append(
                            "error: not all frequencies sum up to +-1.0.")
                    warning = rounding_warning(total_sum)
                    if warning:
                        self.simulation_errors.append(warning)
                    values.append(Simulated(exact_psex(g, n, total), value, g, n))
        values.sort(key=lambda v: v.exact if v.value is None else v.value)
        return values


class Simulated:
    """One repeated genotype of a simulated data set: its exact PSex, the
    PSex as the program's double sum gives it (None in log space), its PGen
    and its number of samples."""

    def __init__(self, exact, value, g, n):
        self.exact = exact
        self.value = value
        self.g = g
        self.n = n


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
        return "%s: expected %s" % (what, " or ".join(sorted(allowed)))
    return check


def psex_check(exact, value, n, what):
    """The printed PSex must be the double sum's value or the exact value,
    formatted; in log space (value None), the exact value up to the
    rounding of the sum and the 6-digit format."""
    def check(text):
        if text == fmt(float(exact)) or (value is not None and text == fmt(value)):
            return None
        if value is not None:
            return "%s: expected %s (double sum) or %s (exact)" % (
                what, fmt(value), fmt(float(exact)))
        try:
            printed = float(text)
        except ValueError:
            return "%s: not a number" % what
        if not 0.0 <= printed <= 1.0:
            return "%s: outside [0, 1]" % what
        half_unit = 0.5 * 10.0 ** (math.floor(math.log10(printed)) - 5) if printed > 0 else 0.0
        if abs(printed - float(exact)) <= psex_error_bound(n) + half_unit * 1.000001:
            return None
        return "%s: exact value is %.12g (prints as %s)" % (what, float(exact), fmt(float(exact)))
    return check


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
# The two result files.
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
    below x) and the replayed exact values (an entry computed from the same
    PGen and n is the same double as x; entries farther apart than the
    rounding allows are decided by their exact values)."""

    def __init__(self, table, alleles, printed_psex, printed_list, replayed):
        n = len(table.mlgs[alleles])
        self.exact = table.psex[alleles]
        value = table.double_psex[alleles]
        self.err = psex_error_bound(n)
        self.m = len(printed_list)
        verdicts = []
        if printed_psex is not None:
            x = float(printed_psex)
            verdicts.append(["<" if float(t) < x else ">" if float(t) > x else None
                             for t in printed_list])
        if replayed is not None and len(replayed) == self.m:
            # When every printed value is the double sum's, the doubles
            # themselves decide.
            if value is not None and printed_psex == fmt(value) and all(
                    r.value is not None and fmt(r.value) == t
                    for r, t in zip(replayed, printed_list)):
                verdicts.append(["<" if r.value < value else ">" if r.value > value else "="
                                 for r in replayed])
            g = table.pgen[alleles]
            verdict = []
            for r in replayed:
                if r.g == g and r.n == n:
                    verdict.append("=")  # the same computation gives the same double
                elif r.exact + psex_error_bound(r.n) < self.exact - self.err:
                    verdict.append("<")
                elif r.exact - psex_error_bound(r.n) > self.exact + self.err:
                    verdict.append(">")
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

    def significances(self):
        if self.m == 0:
            return {fmt(0.0)}
        return {fmt(float(k) / float(self.m)) for k in range(self.below[0], self.below[1] + 1)}

    def threshold_above(self, alpha):
        """Possible truth values of T(alpha) > x."""
        if self.m == 0:  # every threshold is 1
            if self.exact == 1:
                return {False}
            return {True} if 1 - self.exact > self.err else {True, False}
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


def locus_line(label, cells):
    return label + ",,," + "".join("," + c + "," for c in cells)


def expected_simresults(argument, table, data_file, printed_list, replayed, recorded):
    lines = ["Datafile," + argument, ""]
    column_names = "".join(
        ",%s_%d" % (name, i) for name in table.locus_names for i in range(table.ploidy))
    lines.append("MLG,n,PSex,Significance,Level,PGen" + column_names)
    for number, alleles in enumerate(table.order, start=1):
        names = table.mlgs[alleles]
        allele_cells = "".join("," + str(a) for a in alleles)
        g = fmt(table.pgen[alleles])
        if len(names) <= 1:
            lines.append("MLG%d,%d,%s,%s,%s,%s%s" % (number, len(names), DASH, DASH, DASH, g,
                                                  allele_cells))
            continue
        exact = table.psex[alleles]
        what = "MLG%d" % number
        psex_cell = Cell(psex_check(exact, table.double_psex[alleles], len(names),
                                    what + " PSex"), what + ".psex")
        judgement = Judgement(table, alleles, None, printed_list, replayed)
        recorded_psex = recorded.get(what + ".psex")
        if recorded_psex is not None:
            judgement = Judgement(table, alleles, recorded_psex, printed_list, replayed)
        lines.append(Pattern(
            "MLG%d,%d," % (number, len(names)), psex_cell, ",",
            Cell(number_check(judgement.significances(), what + " Significance"),
                 what + ".significance"), ",",
            Cell(number_check(judgement.codes(), what + " Level")),
            ",%s%s" % (g, allele_cells)))
    lines.append("")
    lines.append(locus_line("", table.locus_names))
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
        lines.append("Locus " + name)
        for allele in sorted(freqs):
            lines.append(",%d,%s" % (allele, fmt(freqs[allele])))
    lines += ["", "", "PSex Values:"]
    for k, text in enumerate(printed_list):
        if replayed is not None and k < len(replayed):
            r = replayed[k]
            lines.append(Pattern(Cell(psex_check(r.exact, r.value, r.n,
                                                 "simulated PSex %d" % (k + 1))),
                                 ","))
        else:
            lines.append(text + ",")
    lines += ["", "", "", "", "Specified parameters:"]
    for key in sorted(data_file.parameters):
        lines.append(key + "," + data_file.parameters[key])
    lines.append("")
    return lines


def csv_field(text):
    """A sample name as the full table writes it: quoted as CSV quotes it
    (quotes doubled) when it holds a double quote, a comma, a CR or a LF."""
    if any(c in text for c in "\",\r\n"):
        return '"' + text.replace('"', '""') + '"'
    return text


def expected_fulltable(argument, table, recorded, printed_list, replayed):
    lines = ["Datafile," + argument, ""]
    lines.append("Sample,MLG,PSex,PValue" + "".join(
        ",%s_%d" % (name, i) for name in table.locus_names for i in range(table.ploidy)))
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
            if psex is not None and significance is not None:
                # The same doubles as in the simulation results file.
                lines.append("%s,MLG_%d,%s,%s%s" % (name, number, psex, significance,
                                                    allele_cells))
            else:
                judgement = Judgement(table, alleles, psex, printed_list, replayed)
                lines.append(Pattern("%s,MLG_%d," % (name, number),
                                     Cell(psex_check(table.psex[alleles],
                                                     table.double_psex[alleles], len(names),
                                                     what + " PSex")), ",",
                                     Cell(number_check(judgement.significances(),
                                                       what + " PValue")), allele_cells))
    lines += ["", ""]
    return lines


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


def check_result_files(comparison, argument, table, data_file, sim_text, full_text, replayed):
    """Compare both result files with the re-derivation; a text that is None
    (a file not written, or not to be compared) is skipped."""
    printed_list = parse_printed_list(sim_text) if sim_text is not None else None
    if printed_list is None and sim_text is None and replayed is not None:
        printed_list = [fmt(r.value if r.value is not None else float(r.exact))
                        for r in replayed]
    elif printed_list is None:
        comparison.problem("simulation results file: no readable 'PSex Values:' block")
        printed_list = [fmt(float(r.exact)) for r in replayed] if replayed is not None else []
    check_list_structure(comparison, printed_list, table, replayed)
    recorded = {}
    # Two passes: the first records the printed PSex cells, which the second
    # uses to judge ties with the simulated values.
    expected = expected_simresults(argument, table, data_file, printed_list, replayed, recorded)
    if sim_text is not None:
        scratch = Comparison(comparison.label)
        scratch.lines("simresults", expected, sim_text, recorded)
        recorded = {k: v for k, v in recorded.items() if k.endswith(".psex")}
        expected = expected_simresults(argument, table, data_file, printed_list, replayed,
                                       recorded)
        comparison.lines("simulation results file", expected, sim_text, recorded)
    if full_text is not None:
        comparison.lines("full table file",
                         expected_fulltable(argument, table, recorded, printed_list, replayed),
                         full_text, {})


# --------------------------------------------------------------------------
# A whole run: the driver's loop over the arguments.
# --------------------------------------------------------------------------


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
    'folder' is where the data files can be read."""

    def __init__(self, arguments, folder, entries, replay=True):
        self.stdout = []
        self.stderr = []
        self.status = 0
        self.passes = []  # (argument, table, data file, output names, replayed, written)
        self.inputs = set(entries)
        entries = dict(entries)
        generator = LaggedFibonacci607() if replay else None
        for argument in arguments:
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
            table = Table(data_file)
            self.stdout += data_file.messages
            self.stderr += table.errors
            replayed = None
            if generator is not None:
                replayed = table.replay_simulation(generator)
                self.stderr += table.simulation_errors
            run_name = table.title if table.title else argument
            names = ("simresults_" + run_name + ".csv", "fulltable_" + run_name + ".csv")
            refusal = refusal_of(names, argument, bool(table.title), entries)
            if refusal:
                self.stderr.append(refusal)
                self.status = 1
            for name in names if not refusal else ():
                if os.path.normpath(name) in entries:
                    self.stdout.append("Warning: overwriting output file '%s'." % name)
            written = []
            for name in names if not refusal else ():
                parent = os.path.dirname(os.path.normpath(name))
                if (parent and not entries.get(parent, False)) or entries.get(
                        os.path.normpath(name), False):
                    self.stderr.append("error: cannot write output file '%s'." % name)
                else:
                    entries[os.path.normpath(name)] = False
                    written.append(name)
            if len(written) == 2:
                self.stdout.append("Results are written to '%s'." % names[0])
            elif not refusal:
                self.status = 1
            if table.n_samples == 0:
                self.stderr.append("error: no sample was read from '%s'." % argument)
                self.status = 1
            self.passes.append((argument, table, data_file, names, replayed, written))

    def result_files(self):
        """The pass that wrote each new result file last."""
        files = {}
        for entry in self.passes:
            for name in entry[5]:
                if os.path.normpath(name) not in self.inputs:
                    files[os.path.normpath(name)] = entry
        return files


def check_run(label, model, stdout, stderr, status, files):
    """files: result file name -> text, every new file the run left."""
    comparison = Comparison(label)
    comparison.text("standard output", "".join(line + "\n" for line in model.stdout), stdout)
    comparison.text("standard error", "".join(line + "\n" for line in model.stderr), stderr)
    comparison.text("exit status", model.status, status)
    expected_files = model.result_files()
    comparison.text("result files", sorted(expected_files), sorted(files))
    done = set()
    for name, entry in expected_files.items():
        argument, table, data_file, names, replayed, _ = entry
        sim_name, full_name = (os.path.normpath(n) for n in names)
        if names in done:
            continue
        done.add(names)
        sub = Comparison("%s: %s" % (label, argument))
        check_result_files(sub, argument, table, data_file, files.get(sim_name),
                           files.get(full_name), replayed)
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
}


class ListedDraws:
    """A stand-in for the generator that hands out given numbers."""

    def __init__(self, values):
        self.values = list(values)

    def __call__(self):
        return self.values.pop(0)


def self_test(folder=None):
    """Check the derivation on the files above; return the failures."""
    failures = []

    def same(what, expected, actual):
        if expected != actual:
            failures.append("%s\n    expected: %r\n    actual:   %r" % (what, expected, actual))

    def table_of(name):
        data_file = DataFile(SELF_TEST_FILES[name].encode("latin-1"))
        return data_file, Table(data_file)

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
    same("code 0: messages", ["note: missing allele copies: L 5"], table.errors)
    same("code 0: MLGs", {(0, 0): ["m4", "m5"], (0, 2): ["m3"], (1, 1): ["m6"],
                          (1, 2): ["m1", "m2"]}, table.mlgs)
    same("code 0: cells", {
        "alleles": ["2"], "He": ["0.48"], "Ho": ["0.5"], "Fis": ["-0.0416667"],
        "PGen": ["1", "1", "0.35", "0.5"]}, cells(table))

    # Unknown keys in byte-wise order before every other table message;
    # rows 13 and 14 are blank rows; line 16 is short (E6 with the number
    # 17) and ends the data; lines 18 and 20 (no final line end) hold text.
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
    same("rows: standard output", ["error:17: data line has not enough entries (2 of 3)."],
         data_file.messages)
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

    # A locus with no typed copy: empty map (He 1, Ho and Fis undefined),
    # the frequency message after the note, factor 1.  In the simulation the
    # draws of that locus choose nothing, so the code is stored: with the
    # draws 0.1, 0.7 | 0.2, 0.9 both samples are (1, code): one clone, PGen
    # 0.5, PSex 0.5^2, and the frequency message once for its table.
    data_file, table = table_of("untyped-haploid.txt")
    same("untyped: messages", ["note: missing allele copies: B 2",
                               "error: not all frequencies sum up to +-1.0."], table.errors)
    same("untyped: cells", {"alleles": ["2", "0"], "He": ["0.5", "1"], "Ho": ["0", DASH],
                            "Fis": ["1", DASH], "PGen": ["0.5", "0.5"]}, cells(table))
    replayed = table.replay_simulation(ListedDraws([0.1, 0.7, 0.2, 0.9]))
    same("untyped: simulated", [(Fraction(1, 4), 0.25, 0.5, 2)],
         [(r.exact, r.value, r.g, r.n) for r in replayed])
    same("untyped: simulation messages", ["error: not all frequencies sum up to +-1.0."],
         table.simulation_errors)

    # Diploid, code -1, unnamed second locus: 5,3 is stored 3,5, so both
    # samples form one MLG, PGen 2 (0.5)(0.5) = 0.5, PSex 0.25.  Draws
    # 0.6 -> 5, 0.1 -> 3, nothing twice at B; 0.2 -> 3, 0.7 -> 5, nothing twice.
    data_file, table = table_of("untyped-diploid.txt")
    same("untyped diploid: messages", ["note: missing allele copies:  4",
                                       "error: not all frequencies sum up to +-1.0."],
         table.errors)
    same("untyped diploid: MLGs", {(3, 5, -1, -1): ["s1", "s2"]}, table.mlgs)
    same("untyped diploid: PSex", Fraction(1, 4), table.psex[(3, 5, -1, -1)])
    replayed = table.replay_simulation(ListedDraws([0.6, 0.1, 0.3, 0.3, 0.2, 0.7, 0.5, 0.5]))
    same("untyped diploid: simulated", [(0.25, 0.5, 2)],
         [(r.value, r.g, r.n) for r in replayed])

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
            "error: not all frequencies sum up to +-1.0.",
            "error: no sample was read from 'nosample.txt'."], model.stderr)
        same("no sample: status", 1, model.status)
        same("no sample, then a file that is not there: status", 2,
             RunModel(["nosample.txt", "absent.txt"], scratch, entries).status)
        same("samples: status", 0, RunModel(["missing.txt", "rows.txt"], scratch,
                                            entries).status)
        # The folder simresults_sub does not exist: both write errors come
        # before the no-sample error.
        os.makedirs(os.path.join(scratch, "sub"), exist_ok=True)
        shutil.copyfile(os.path.join(scratch, "nosample.txt"),
                        os.path.join(scratch, "sub", "nosample.txt"))
        model = RunModel(["sub/nosample.txt"], scratch,
                         dict(entries, **{"sub": True, "sub/nosample.txt": False}))
        same("no sample, not written: standard error tail", [
            "error: cannot write output file 'simresults_sub/nosample.txt.csv'.",
            "error: cannot write output file 'fulltable_sub/nosample.txt.csv'.",
            "error: no sample was read from 'sub/nosample.txt'."], model.stderr[-3:])
        same("no sample, not written: status", 1, model.status)
    finally:
        if folder is None:
            shutil.rmtree(scratch, ignore_errors=True)
    return failures


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
            if len(options.paths) != 3:
                parser.error("expected DATAFILE SIMRESULTS FULLTABLE")
            data_path, sim_path, full_path = options.paths
            with open(data_path, "rb") as stream:
                data_file = DataFile(stream.read())
            table = Table(data_file)
            replayed = None if options.no_replay else table.replay_simulation(
                LaggedFibonacci607())
            texts = []
            for path in (sim_path, full_path):
                with open(path, "rb") as stream:
                    texts.append(stream.read().decode("latin-1"))
            comparison = Comparison(sim_path)
            check_result_files(comparison, options.argument or data_path, table, data_file,
                               texts[0], texts[1], replayed)
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
