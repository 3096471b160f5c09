#!/usr/bin/env Rscript
# psex-plot: draw the PSex values of a psex run, simulated and observed.
#
# Usage:  psex-plot [--] simresults_<run>.csv [out.png]
#         psex-plot --help | -h | --version
#         (from the source tree: Rscript tools/psex-plot.R ...)
#
# Reads a simulation results file written by psex and draws, to a PNG file,
# two panels on one PSex axis (log scale):
#   - above, every genotype seen more than once in the data (a "clonal" MLG)
#     at its observed PSex, higher the more samples it has (n), coloured and
#     shaped by its significance code (ns, *, **, ***).  The clonal MLGs that
#     reach * or better, per repeat or study-wide, are labelled with their
#     MLG number and their study-wide (family-wise) level, read from the
#     samples file samples_<run>.csv beside the results file, at most the 20
#     with the smallest PSex;
#   - below, the distribution of the simulated PSex values (the PSex of every
#     genotype that repeated by chance in a simulated data set without clones)
#     as a histogram;
#   - through both, the three significance thresholds PValue(0.01),
#     PValue(0.05) and PValue(0.10) as blue lines, labelled above the plot.
# A genotype left of a threshold has a PSex smaller than that share of the
# chance repeats.
#
# A PSex of 0 (the number is below what a double can hold, or an allele of
# the genotype has frequency 0) has no place on a log scale.  Such values,
# simulated or observed, are drawn in a separate bin labelled "0" left of an
# axis break, and a note says how many there are.  When observed values far
# below every chance repeat would stretch the axis over more than 30 decades,
# those more than 10 decades below join that bin, then labelled "<10^k".
# Without simulated values (M = 0) the thresholds are undefined: no lines,
# and a note in the picture.
#
# When psex ran with MLLDISTANCE, a distances file distances_<run>.csv lies
# beside the results file (a distances file beside a results file of a run
# without MLLDISTANCE is left over from an earlier run, and is passed over
# with a note).  Its histogram goes to a second picture,
# <out>-distances.png: the share of the pairs of observed MLGs at each
# distance (in allele copies) beside the shares of simulated full-sibling and
# unrelated pairs, with the chosen MLLDISTANCE marked.
#
# When psex ran with COORDINATES, a spatial file spatial_<run>.csv lies
# beside the results file.  The map goes to a third picture, <out>-map.png:
# every located sample at its coordinates, coloured by its genet (its MLL,
# which is its MLG without MLLDISTANCE, from the samples file), the samples
# of each genet with two or more located samples joined by the shortest
# lines that connect them all (a minimum spanning tree), and the genets'
# clonal subranges from the spatial file.  The coordinates are read from the
# data file that the results name in their "Datafile," line (as given to
# psex: from the current folder, else from the results file's folder); when
# it cannot be read, or holds other samples than the results, no map is
# drawn and a note says why.  A spatial file beside the results of a run
# without COORDINATES is left over from an earlier run, and is passed over
# with a note.
#
# Without an output name the picture goes beside the input, with ".png" in
# place of ".csv".  A short summary is printed on standard output, notes
# included.  A file that cannot be read as a psex result ends the program with
# a message on standard error and exit status 1, before any picture is drawn.
# Base R only: nothing to install beyond R itself.

program <- "psex-plot"
# The version of the psex it comes with (the tests hold the two equal).
version <- "1.1.0"

usage <- "Usage: psex-plot [--] simresults_<run>.csv [out.png]
       psex-plot --help | -h | --version

Draws the PSex values of a psex run from its simulation results file into
a PNG picture: every genotype seen more than once at its observed PSex,
the PSex values of the chance repeats in the simulated data sets, and the
thresholds PValue(0.01), PValue(0.05) and PValue(0.10).  When the run had
MLLDISTANCE, the histogram of its distances file (distances_<run>.csv,
beside the results file) goes to a second picture, <out>-distances.png.
When the run had COORDINATES (a spatial file spatial_<run>.csv beside the
results file), a map of the samples coloured by genet goes to
<out>-map.png, with the coordinates read from the data file that the
results name.
Without out.png the picture goes beside the input, with .png for .csv.
A short summary, notes included, is printed on standard output.

Options:
  -h, --help   print this text
  --version    print the version
  --           take every later argument as a file name

Exit status: 0 when the pictures were drawn; 1 when the input is not a
psex simulation results file that can be read, or a picture cannot be
written (no picture is left); 2 when the arguments are wrong.

Needs R (Rscript), base R only.  More: man psex-plot
"

fail <- function(...) {
  message(program, ": ", ...)
  quit(save = "no", status = 1)
}

# The arguments are file names, except --help, -h and --version, which print
# their text and end the program, and --, after which every argument is a
# name.  Any other argument that begins with '-' is an unknown option, unless
# a file of that name can be read (psex takes its data files the same way).
isReadableFile <- function(path) {
  file.exists(path) && !dir.exists(path) && file.access(path, 4) == 0
}
fileArguments <- character(0)
unknownOption <- NULL
optionsEnded <- FALSE
for (argument in commandArgs(trailingOnly = TRUE)) {
  if (optionsEnded || !startsWith(argument, "-")) {
    fileArguments <- c(fileArguments, argument)
  } else if (argument == "--") {
    optionsEnded <- TRUE
  } else if (argument %in% c("--help", "-h")) {
    cat(usage)
    quit(save = "no", status = 0)
  } else if (argument == "--version") {
    cat(program, " ", version, "\n", sep = "")
    quit(save = "no", status = 0)
  } else if (isReadableFile(argument)) {
    fileArguments <- c(fileArguments, argument)
  } else if (is.null(unknownOption)) {
    unknownOption <- argument
  }
}
if (!is.null(unknownOption)) {
  message(program, ": unknown option '", unknownOption, "' (try --help)")
  quit(save = "no", status = 2)
}
if (length(fileArguments) < 1 || length(fileArguments) > 2) {
  message("usage: ", program, " simresults_<run>.csv [out.png]")
  quit(save = "no", status = 2)
}
input <- fileArguments[1]
output <- if (length(fileArguments) == 2) fileArguments[2] else sub("(\\.csv)?$", ".png", input)
distancesOutput <- sub("(\\.png)?$", "-distances.png", output)
mapOutput <- sub("(\\.png)?$", "-map.png", output)
if (!file.exists(input) || dir.exists(input)) fail("cannot read '", input, "'")
for (folder in unique(dirname(c(output, distancesOutput)))) {
  if (!dir.exists(folder) || file.access(folder, 2) != 0)
    fail("cannot write a picture into the folder '", folder, "'")
}

# ---- reading the simulation results file ----------------------------------

lines <- sub("\r$", "", readLines(input, warn = FALSE))
cells <- strsplit(lines, ",", fixed = TRUE)
first <- vapply(cells, function(x) if (length(x)) x[1] else "", "")

# The lines of the block after the line 'label', up to the next empty line.
blockAfter <- function(label) {
  start <- match(label, lines)
  if (is.na(start)) return(integer(0))
  end <- start
  while (end < length(lines) && nzchar(lines[end + 1])) end <- end + 1
  seq_len(end - start) + start
}

# The second cell of the line that begins with 'key', as a number.
numberAfter <- function(key) {
  row <- cells[[match(key, first)]]
  value <- suppressWarnings(as.numeric(row[2]))
  if (is.na(value)) fail("no number after '", key, "' in '", input, "'")
  value
}

if (!length(grep("^MLG,n,PSex,", lines)) || is.na(match("PSex Values:", lines)) ||
    is.na(match("Samplesize", first)) || is.na(match("PValues", first)))
  fail("'", input, "' is not a psex simulation results file")

# The header parameters of the data file, echoed at the end of the file.
parameters <- local({
  rows <- blockAfter("Specified parameters:")
  values <- vapply(cells[rows], function(x) paste(x[-1], collapse = ","), "")
  setNames(values, first[rows])
})

runName <- if ("TITLE" %in% names(parameters) && nzchar(parameters[["TITLE"]])) {
  parameters[["TITLE"]]
} else {
  sub("^Datafile,", "", lines[1])
}

simulated <- suppressWarnings(as.numeric(sub(",$", "", lines[blockAfter("PSex Values:")])))
if (anyNA(simulated)) fail("unreadable value in the PSex Values block of '", input, "'")
sampleSize <- numberAfter("Samplesize")
if (numberAfter("PValues") != length(simulated))
  fail("'", input, "' announces ", numberAfter("PValues"), " simulated values but lists ",
       length(simulated))

thresholds <- do.call(rbind, lapply(c("PValue(0.01)", "PValue(0.05)", "PValue(0.10)"),
  function(label) {
    at <- match(label, first)
    if (is.na(at) || length(cells[[at]]) < 4) fail("no ", label, " line in '", input, "'")
    row <- suppressWarnings(as.numeric(cells[[at]][c(2, 4)]))
    if (anyNA(row)) fail("unreadable ", label, " line in '", input, "'")
    data.frame(label = label, level = as.numeric(sub("PValue\\((.*)\\)", "\\1", label)),
               threshold = row[1], realized = row[2])
  }))

levelNames <- c("ns", "*", "**", "***")
mlgRows <- which(grepl("^MLG[0-9]+,", lines))
mlgs <- data.frame(
  name = vapply(cells[mlgRows], `[`, "", 1),
  n = suppressWarnings(as.numeric(vapply(cells[mlgRows], `[`, "", 2))),
  psex = suppressWarnings(as.numeric(vapply(cells[mlgRows], `[`, "", 3))),
  level = vapply(cells[mlgRows], `[`, "", 5),
  stringsAsFactors = FALSE)
# Without simulated values (M = 0) a repeated genotype has no code ("-").
noCode <- "\"-\""
broken <- is.na(mlgs$n) | mlgs$n < 1 |
  (mlgs$n >= 2 & (is.na(mlgs$psex) | !(mlgs$level %in% c(levelNames, noCode))))
if (any(broken))
  fail("unreadable MLG line in '", input, "': ", lines[mlgRows[which(broken)[1]]])
clonal <- mlgs[mlgs$n >= 2, ]
clonal$number <- as.numeric(sub("^MLG", "", clonal$name))
clonal$level[clonal$level == noCode] <- "none"

# The study-wide (family-wise) p-value and level of every clonal MLG, from
# the samples file that psex writes beside the results file
# (samples_<run>.csv): the share of simulated data sets whose most extreme
# chance repeat is at least as extreme.  Results of older runs have none.
besideInput <- function(prefix) {
  if (!grepl("^simresults_.*\\.csv$", basename(input))) return(NA)
  name <- sub("^simresults_", prefix, basename(input))
  if (dirname(input) == ".") name else file.path(dirname(input), name)
}
samplesInput <- besideInput("samples_")
clonal$familywise <- rep(NA_character_, nrow(clonal))
clonal$pFamilywise <- rep(NA_real_, nrow(clonal))
if (!is.na(samplesInput) && file.exists(samplesInput)) {
  tidy <- tryCatch(read.csv(samplesInput, colClasses = "character", check.names = FALSE),
                   error = function(e) NULL)
  if (!is.null(tidy) && all(c("mlg", "p_familywise", "level_familywise") %in% names(tidy))) {
    at <- match(clonal$number, as.numeric(tidy$mlg))
    clonal$familywise <- tidy$level_familywise[at]
    clonal$pFamilywise <- suppressWarnings(as.numeric(tidy$p_familywise[at]))
  }
}
haveFamilywise <- nrow(clonal) > 0 && !anyNA(clonal$familywise)

# The clonal MLGs that get a label: those at * or better by either p-value
# (per repeat or study-wide), the 20 with the smallest PSex (ties in MLG
# order).
maxLabels <- 20
strong <- function(level) !is.na(level) & level %in% levelNames[-1]
significant <- clonal[strong(clonal$level) | strong(clonal$familywise), ]
significant <- significant[order(significant$psex, significant$number), ]
labelled <- head(significant, maxLabels)

# ---- reading the distances file, when there is one --------------------------

# psex writes distances_<run>.csv beside simresults_<run>.csv when the data
# file asks for lineages (MLLDISTANCE).
distancesInput <- besideInput("distances_")
distances <- NULL
staleDistances <- !is.na(distancesInput) && file.exists(distancesInput) &&
  !("MLLDISTANCE" %in% names(parameters))
if (!is.na(distancesInput) && file.exists(distancesInput) && !staleDistances) {
  distanceColumns <- c("distance", "observed_pairs", "sibling_pairs", "unrelated_pairs")
  rows <- sub("\r$", "", readLines(distancesInput, warn = FALSE))
  rows <- rows[nzchar(rows)]
  if (!length(rows) || rows[1] != paste(distanceColumns, collapse = ","))
    fail("'", distancesInput, "' is not a psex distances file")
  values <- lapply(strsplit(rows[-1], ",", fixed = TRUE),
                   function(x) suppressWarnings(as.numeric(x)))
  if (any(vapply(values, function(x) length(x) != 4 || anyNA(x) || any(x < 0) ||
                   any(x != round(x)), TRUE)))
    fail("unreadable line in '", distancesInput, "'")
  # A table without samples gives the header alone.
  distances <- as.data.frame(matrix(as.numeric(unlist(values)), ncol = 4, byrow = TRUE,
                                    dimnames = list(NULL, distanceColumns)))
}
lineageDistance <- if ("MLLDISTANCE" %in% names(parameters)) {
  suppressWarnings(as.numeric(parameters[["MLLDISTANCE"]]))
} else {
  NA
}

# ---- the log scale, with a place for zeros ----------------------------------

# The axis spans the simulated values, the thresholds and the observed PSex.
# An observed PSex far below every chance repeat says no more than "far
# below".  When such values would stretch the axis beyond 'widest' decades,
# those more than 'reach' decades left of the simulated values and the
# thresholds share one bin with the zeros (which have no place on a log
# scale), left of an axis break, so that they do not squeeze the part of the
# axis where observed and chance repeats meet.
haveThresholds <- length(simulated) > 0         # with M = 0 they mean nothing
reach <- 10
widest <- 30
core <- c(simulated, if (haveThresholds) thresholds$threshold)
core <- core[core > 0]
cutoff <- -Inf
if (length(core) && any(clonal$psex > 0)) {
  lowest <- log10(min(clonal$psex[clonal$psex > 0]))
  if (min(log10(max(core)), 0) - lowest > widest) cutoff <- floor(log10(min(core))) - reach
  if (lowest >= cutoff) cutoff <- -Inf
}
offScale <- function(x) x == 0 | log10(x) < cutoff
positive <- c(core, clonal$psex[!offScale(clonal$psex)])
positive <- positive[positive > 0]
if (length(positive)) {
  left <- floor(log10(min(positive)))
  right <- ceiling(log10(max(positive)))
} else {
  left <- -1
  right <- 0
}
if (is.finite(cutoff)) left <- cutoff
right <- min(right, 0)        # no probability is above 1
if (right <= left) left <- right - 1
span <- right - left
binWidth <- c(0.1, 0.2, 0.25, 0.5, 1, 2, 5, 10, 20, 50)
binWidth <- binWidth[which(span / binWidth <= 60)[1]]

zeroSimulated <- sum(simulated == 0)
offObserved <- sum(offScale(clonal$psex))
anyOff <- zeroSimulated > 0 || offObserved > 0 ||
  (haveThresholds && any(thresholds$threshold == 0))
offWidth <- max(1.5 * binWidth, 0.09 * span)  # the bin left of the break
breakAt <- left - max(binWidth, 0.025 * span)
zeroAt <- breakAt - max(binWidth, 0.025 * span) - offWidth / 2
offLabel <- if (is.finite(cutoff)) parse(text = paste0("''<10^", cutoff)) else "0"
offText <- if (is.finite(cutoff)) sprintf("PSex below 1e%d (or 0)", cutoff) else "PSex 0"
position <- function(x) ifelse(offScale(x), zeroAt, log10(x))
xlim <- c(if (anyOff) zeroAt - offWidth / 2 - 0.01 * span else left - 0.02 * span,
          right + 0.02 * span)

breaks <- seq(left, right, by = binWidth)
if (breaks[length(breaks)] < right) breaks <- c(breaks, breaks[length(breaks)] + binWidth)
counts <- rep(0, length(breaks) - 1)
if (any(simulated > 0))
  counts <- hist(log10(simulated[simulated > 0]), breaks = breaks, plot = FALSE)$counts
top <- max(c(counts, zeroSimulated, 1))

# ---- summary on the console -------------------------------------------------

plural <- function(count, one, many) sprintf("%.0f %s", count, if (count == 1) one else many)

# ---- reading the places of the samples, when the run had coordinates --------

# Return the text of a CSV field as psex writes it (quoted when it holds a
# comma or a double quote).
unquoted <- function(field) {
  if (grepl('^".*"$', field)) gsub('""', '"', substr(field, 2, nchar(field) - 1)) else field
}

# A coordinate as psex reads it: a decimal number with a point, spaces around
# it allowed; NA otherwise.
coordinateOf <- function(cell) {
  cell <- gsub("^ +| +$", "", cell)
  ok <- grepl("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)([eE][+-]?[0-9]+)?$", cell)
  value <- rep(NA_real_, length(cell))
  value[ok] <- suppressWarnings(as.numeric(cell[ok]))
  value[!is.finite(value)] <- NA
  value
}

# The sample names and coordinates of the data file at 'path', whose columns
# 'xName' and 'yName' hold them; NULL when it cannot be read so.
readPlaces <- function(path, xName, yName) {
  text <- tryCatch(sub("\r$", "", readLines(path, warn = FALSE)), error = function(e) NULL,
                   warning = function(w) NULL)
  if (is.null(text) || !length(text)) return(NULL)
  text[1] <- sub("^\xef\xbb\xbf", "", text[1], useBytes = TRUE)
  i <- 1
  # The header ends at an empty line or one that begins with a space or TAB.
  while (i <= length(text) && nzchar(text[i]) && !grepl("^[ \t]", text[i])) i <- i + 1
  i <- i + 1
  while (i <= length(text) && startsWith(text[i], "#")) i <- i + 1
  if (i > length(text)) return(NULL)
  names <- strsplit(text[i], "[,\t]")[[1]]
  names <- names[nzchar(names)]
  x <- max(c(0, which(names == xName)))
  y <- max(c(0, which(names == yName)))
  if (!x || !y) return(NULL)
  rows <- character(0)
  for (line in text[-seq_len(i)]) {
    if (!nzchar(line) || grepl("^[ \t]", line)) break
    fields <- strsplit(line, "[,\t]")[[1]]
    if (all(!nzchar(fields))) next
    if (length(fields) < max(x, y)) break
    rows <- c(rows, line)
  }
  fields <- strsplit(rows, "[,\t]")
  data.frame(sample = vapply(fields, `[`, "", 1),
             x = coordinateOf(vapply(fields, `[`, "", x)),
             y = coordinateOf(vapply(fields, `[`, "", y)), stringsAsFactors = FALSE)
}

# The map of the run: the located samples with their genets and the units'
# subranges, or NULL (with a note) when there is none to draw.
readMap <- function() {
  spatialInput <- besideInput("spatial_")
  if (is.na(spatialInput) || !file.exists(spatialInput)) return(NULL)
  if (!("COORDINATES" %in% names(parameters))) {
    cat(sprintf("Note: %s passed over: the run had no COORDINATES (left from an earlier run?)\n",
                spatialInput))
    return(NULL)
  }
  spatial <- tryCatch(read.csv(spatialInput, colClasses = "character"), error = function(e) NULL)
  if (is.null(spatial) || !identical(names(spatial), c("unit", "id", "n", "located", "subrange")))
    fail("'", spatialInput, "' is not a psex spatial file")
  noMap <- function(why) {
    cat("Note: no map: ", why, "\n", sep = "")
    NULL
  }
  columns <- strsplit(parameters[["COORDINATES"]], ",", fixed = TRUE)[[1]]
  dataFile <- unquoted(sub("^Datafile,", "", lines[1]))
  candidates <- unique(c(dataFile, if (!grepl("^/", dataFile)) file.path(dirname(input), dataFile)))
  readable <- candidates[vapply(candidates, isReadableFile, TRUE)]
  if (!length(readable))
    return(noMap(sprintf("the data file '%s' that the results name cannot be read here",
                         dataFile)))
  if (is.na(samplesInput) || !file.exists(samplesInput))
    return(noMap("no samples file of this run beside the results"))
  tidy <- tryCatch(read.csv(samplesInput, colClasses = "character", check.names = FALSE),
                   error = function(e) NULL)
  places <- if (length(columns) == 2) readPlaces(readable[1], columns[1], columns[2])
  if (is.null(tidy) || !all(c("sample", "mll") %in% names(tidy)) || is.null(places) ||
      !identical(places$sample, tidy$sample))
    return(noMap(sprintf("the data file '%s' holds other samples than the results (changed since the run?)",
                         readable[1])))
  places$genet <- as.numeric(tidy$mll)
  lineages <- any(spatial$unit == "mll")
  units <- spatial[spatial$unit == if (lineages) "mll" else "mlg", ]
  located <- places[!is.na(places$x) & !is.na(places$y), ]
  sizes <- table(located$genet)
  cat(sprintf("Map from %s: %d of %s located, %s of two or more located samples\n", readable[1],
              nrow(located), plural(nrow(places), "sample", "samples"),
              plural(sum(sizes >= 2), if (lineages) "MLL" else "MLG",
                     if (lineages) "MLLs" else "MLGs")))
  # Ac and its p-value, from the summary file beside the results (the mll
  # rows, which repeat the mlg rows without lineages).
  aggregation <- c(NA_real_, NA_real_)
  summaryInput <- besideInput("summary_")
  if (!is.na(summaryInput) && file.exists(summaryInput)) {
    summary <- tryCatch(read.csv(summaryInput, colClasses = "character"), error = function(e) NULL)
    if (!is.null(summary) && all(c("statistic", "unit", "value") %in% names(summary))) {
      rows <- summary[summary$unit == "mll", ]
      aggregation <- suppressWarnings(as.numeric(
        rows$value[match(c("aggregation_Ac", "aggregation_p"), rows$statistic)]))
      cat(sprintf("Aggregation of the %s: Ac = %.3g, p = %.3g\n",
                  if (lineages) "MLLs" else "MLGs", aggregation[1], aggregation[2]))
    }
  }
  list(places = located, all = nrow(places), unit = if (lineages) "MLL" else "MLG",
       aggregation = aggregation,
       subrange = setNames(suppressWarnings(as.numeric(units$subrange)), units$id))
}

cat(sprintf("Run %s: N = %s, %s (%d of them 0)\n", runName,
            plural(sampleSize, "sample", "samples"),
            plural(length(simulated), "simulated PSex value", "simulated PSex values"),
            zeroSimulated))
for (i in seq_len(nrow(thresholds)))
  cat(sprintf("%s: threshold %g, realized level %g\n", thresholds$label[i],
              thresholds$threshold[i], thresholds$realized[i]))
cat(sprintf("Genotypes seen more than once: %d\n", nrow(clonal)))
for (i in seq_len(nrow(clonal)))
  cat(sprintf("  %s: n = %g, PSex = %g, %s%s\n", clonal$name[i], clonal$n[i], clonal$psex[i],
              if (clonal$level[i] == "none") "no code" else clonal$level[i],
              if (haveFamilywise) sprintf("; study-wide %s (p = %g)", clonal$familywise[i],
                                          clonal$pFamilywise[i]) else ""))
cat(sprintf("Labelled in the picture (%d of %d at * or better%s): %s\n", nrow(labelled),
            nrow(significant), if (haveFamilywise) ", per repeat or study-wide" else "",
            if (nrow(labelled)) paste(labelled$name, collapse = ", ") else "none"))

notes <- character(0)
if (!length(simulated)) {
  notes <- c(notes, paste("No simulated repeats: thresholds are undefined (so are the codes);",
                          "raise SIMULATIONS."))
}
if (anyOff)
  notes <- c(notes, sprintf("%s, drawn left of the axis break: %s, %s.", offText,
                            plural(zeroSimulated, "simulated value", "simulated values"),
                            plural(offObserved, "observed MLG", "observed MLGs")))
if (!nrow(clonal)) notes <- c(notes, "No genotype is seen more than once in the data.")
if (nrow(clonal) && !haveFamilywise)
  notes <- c(notes, "No study-wide levels: no samples file of this run beside the results.")
for (note in notes) cat("Note: ", note, "\n", sep = "")
if (staleDistances)
  cat(sprintf("Note: %s passed over: the run had no MLLDISTANCE (left from an earlier run?)\n",
              distancesInput))
if (!is.null(distances))
  cat(sprintf("Distances from %s: %s, %s, %s\n", distancesInput,
              plural(sum(distances$observed_pairs), "observed pair", "observed pairs"),
              plural(sum(distances$sibling_pairs), "sibling pair", "sibling pairs"),
              plural(sum(distances$unrelated_pairs), "unrelated pair", "unrelated pairs")))
map <- readMap()

# ---- placing labels along a line --------------------------------------------

# Isotonic regression (pool adjacent violators, equal weights): the
# nondecreasing sequence closest to y in least squares.
isotonic <- function(y) {
  value <- numeric(0)
  weight <- numeric(0)
  for (v in y) {
    value <- c(value, v)
    weight <- c(weight, 1)
    k <- length(value)
    while (k > 1 && value[k - 1] > value[k]) {
      value[k - 1] <- (value[k - 1] * weight[k - 1] + value[k] * weight[k]) /
        (weight[k - 1] + weight[k])
      weight[k - 1] <- weight[k - 1] + weight[k]
      value <- value[-k]
      weight <- weight[-k]
      k <- k - 1
    }
  }
  rep(value, weight)
}

# Centres for labels of widths w that want to sit at p (in this order), side
# by side without overlap inside [lo, hi], moved as little as possible (least
# squares); NULL when they do not fit.  With the offsets s that keep the
# labels apart, the centres are u + s for the nondecreasing u closest to
# p - s, and the bounds clip u.
packInterval <- function(p, w, lo, hi) {
  s <- c(0, cumsum((w[-1] + w[-length(w)]) / 2))
  uLo <- lo + w[1] / 2
  uHi <- hi - w[length(w)] / 2 - s[length(s)]
  if (uLo > uHi) return(NULL)
  pmin(pmax(isotonic(p - s), uLo), uHi) + s
}

# Centres for labels of widths w wanting to sit at p (sorted), in one row
# whose free stretches are the rows of 'free' (lo, hi; sorted, disjoint).
# Each label goes into one stretch, in order, so that the labels keep the
# order of their points and their leader lines do not cross; the choice
# moves the labels as little as possible in total (dynamic programming over
# labels and stretches).  NULL when they do not fit.
placeInRow <- function(p, w, free) {
  count <- length(p)
  stretches <- nrow(free)
  best <- matrix(Inf, count + 1, stretches + 1)
  best[1, ] <- 0
  from <- matrix(NA_integer_, count + 1, stretches + 1)
  for (k in seq_len(stretches)) {
    for (j in seq_len(count)) {
      best[j + 1, k + 1] <- best[j + 1, k]
      from[j + 1, k + 1] <- 0L                   # stretch k holds none of 1..j
      for (i in seq_len(j)) {
        if (!is.finite(best[i, k])) next
        at <- packInterval(p[i:j], w[i:j], free[k, 1], free[k, 2])
        if (is.null(at)) next
        cost <- best[i, k] + sum((at - p[i:j])^2)
        if (cost < best[j + 1, k + 1]) {
          best[j + 1, k + 1] <- cost
          from[j + 1, k + 1] <- i                # labels i..j in stretch k
        }
      }
    }
  }
  if (!is.finite(best[count + 1, stretches + 1])) return(NULL)
  centre <- numeric(count)
  j <- count
  k <- stretches
  while (j > 0) {
    i <- from[j + 1, k + 1]
    if (i > 0) {
      centre[i:j] <- packInterval(p[i:j], w[i:j], free[k, 1], free[k, 2])
      j <- i - 1
    }
    k <- k - 1
  }
  centre
}

# Do the segments from (ax, ay) to (bx, by) and from (cx, cy) to (dx, dy)
# cross (at a point inside both)?
segmentsCross <- function(ax, ay, bx, by, cx, cy, dx, dy) {
  turn <- function(px, py, qx, qy, rx, ry) sign((qx - px) * (ry - py) - (qy - py) * (rx - px))
  turn(ax, ay, bx, by, cx, cy) * turn(ax, ay, bx, by, dx, dy) < 0 &&
    turn(cx, cy, dx, dy, ax, ay) * turn(cx, cy, dx, dy, bx, by) < 0
}

# Which label slot each point gets, so that no two leader lines (point to
# slot) cross: start in the given order and swap the slots of any two
# leaders that cross.  Each swap shortens the leaders in total (two crossing
# segments are longer than the two that join the same ends without
# crossing), so this ends.  Coordinates in inches, so that lengths are true.
untangle <- function(px, py, sx, sy) {
  slot <- seq_along(px)
  for (round in seq_len(500)) {
    swapped <- FALSE
    for (i in seq_along(px)) {
      for (j in seq_along(px)) {
        if (j <= i) next
        if (segmentsCross(px[i], py[i], sx[slot[i]], sy, px[j], py[j], sx[slot[j]], sy)) {
          slot[c(i, j)] <- slot[c(j, i)]
          swapped <- TRUE
        }
      }
    }
    if (!swapped) break
  }
  slot
}

# The free stretches of [lo, hi] once the intervals (rows of 'taken') are
# removed.
freeStretches <- function(lo, hi, taken) {
  taken <- taken[order(taken[, 1]), , drop = FALSE]
  free <- matrix(numeric(0), ncol = 2)
  start <- lo
  for (r in seq_len(nrow(taken))) {
    if (taken[r, 1] > start) free <- rbind(free, c(start, min(taken[r, 1], hi)))
    start <- max(start, taken[r, 2])
  }
  if (start < hi) free <- rbind(free, c(start, hi))
  free[free[, 2] > free[, 1], , drop = FALSE]
}

# ---- styles -----------------------------------------------------------------

# Light to dark as the evidence for a clone grows; the shapes differ too, for
# readers who do not see the colours.
levelStyle <- data.frame(
  level = levelNames,
  pch = c(21, 24, 23, 22),
  fill = c("grey80", "#F6A623", "#D7301F", "#67001F"),
  border = c("grey40", "#8C5300", "#7F0000", "black"),
  text = c("grey30", "#8C5300", "#B2182B", "#67001F"),
  stringsAsFactors = FALSE)
# A repeated genotype without a code (no simulated values) is drawn open.
levelStyle <- rbind(levelStyle, data.frame(level = "none", pch = 21, fill = "white",
                                           border = "grey40", text = "grey30"))
styleOf <- function(level) levelStyle[match(level, levelStyle$level), ]
thresholdColour <- "#1F4E9E"
thresholdTypes <- c(3, 2, 4)
labelCex <- 0.85

openPicture <- function(file, width, height) {
  if (capabilities("cairo")) {
    png(file, width = width, height = height, res = 110, type = "cairo")
  } else {
    png(file, width = width, height = height, res = 110)
  }
}

# Draws with 'draw' into 'file'.  A failure removes every picture of this
# run, so that no half-drawn or partial set is left behind.
written <- character(0)
drawPicture <- function(file, width, height, draw) {
  openPicture(file, width, height)
  problem <- tryCatch({
    draw()
    NULL
  }, error = function(e) conditionMessage(e))
  invisible(dev.off())
  if (is.null(problem) && !file.exists(file)) problem <- "the file was not written"
  if (!is.null(problem)) {
    unlink(c(written, file))
    fail("cannot draw '", file, "': ", problem)
  }
  written <<- c(written, file)
}

# The axis break between the bin left of it and the log scale, in both panels.
drawBreak <- function() {
  if (anyOff) abline(v = breakAt, col = "grey60", lty = 1, lwd = 0.8)
}

drawThresholdLines <- function() {
  if (!haveThresholds) return()
  for (i in seq_len(nrow(thresholds)))
    abline(v = position(thresholds$threshold[i]), lty = thresholdTypes[i],
           col = thresholdColour, lwd = 1.6)
}

# The PSex axis: decades at a round step, and the bin left of the break.
drawPSexAxis <- function() {
  step <- c(1, 2, 5, 10, 20, 25, 50, 100)
  step <- step[which(span / step <= 10)[1]]
  decades <- seq(ceiling(left / step) * step, right, by = step)
  axis(1, at = decades, labels = parse(text = paste0("10^", decades)), las = 1, cex.axis = 0.9)
  if (span <= 3) {
    minor <- as.vector(outer(log10(2:9), left:(right - 1), `+`))
    axis(1, at = minor, labels = FALSE, tcl = -0.25)
  }
  if (anyOff) axis(1, at = zeroAt, labels = offLabel, cex.axis = 0.9)
}

# ---- the upper panel: the clonal MLGs ---------------------------------------

drawObserved <- function() {
  par(mar = c(0.4, 5.6, 2.6, 1.5))
  plot.new()
  plot.window(xlim, c(0, 1), xaxs = "i", yaxs = "i")
  usr <- par("usr")
  pin <- par("pin")
  xPerInch <- diff(usr[1:2]) / pin[1]
  yPerInch <- 1 / pin[2]
  box(col = "grey40")

  # Threshold labels above the panel, each over its line or, when lines lie
  # close together, moved apart and joined to its line by a short stroke.
  # Thresholds that coincide share one label.
  if (haveThresholds) {
    at <- position(thresholds$threshold)
    groups <- split(seq_along(at), at)
    where <- as.numeric(names(groups))
    text <- vapply(groups, function(g) paste0(100 * thresholds$level[g], "%", collapse = ", "), "")
    widths <- (strwidth(text, units = "inches", cex = 0.85) + 0.12) * xPerInch
    centre <- packInterval(where, widths, usr[1], usr[2])
    if (is.null(centre)) centre <- where
    lineY <- 1 + 0.45 * par("csi") * yPerInch
    segments(where, 1, centre, lineY, col = thresholdColour, xpd = NA)
    text(centre, lineY, text, adj = c(0.5, -0.2), col = thresholdColour, cex = 0.85, xpd = NA)
  }

  drawBreak()
  drawThresholdLines()
  if (!nrow(clonal)) {
    text(mean(usr[1:2]), 0.5, "No genotype is seen more than once in the data.", cex = 1.1)
    return()
  }

  # The label row at the top of the panel; the points below it.  A label
  # names the MLG and, where known, its study-wide level.
  labelText <- if (haveFamilywise) {
    sprintf("%s  fw %s", clonal$name, clonal$familywise)
  } else {
    clonal$name
  }
  labelLength <- if (nrow(labelled)) {
    max(strwidth(labelText[match(labelled$name, clonal$name)], units = "inches",
                 cex = labelCex, font = 2)) * yPerInch
  } else {
    0
  }
  labelTop <- 0.975
  labelBase <- labelTop - labelLength
  dataTop <- if (nrow(labelled)) labelBase - 0.14 else 0.93
  dataBottom <- 0.07

  # Clone size n on the vertical axis: linear for small clones, else log.
  sizes <- clonal$n
  logSizes <- max(sizes) > 12
  scaleN <- if (logSizes) log10 else identity
  nRange <- if (logSizes) log10(c(2, max(sizes))) + c(-0.06, 0.06) else c(1.5, max(sizes, 3) + 0.5)
  yOf <- function(n) dataBottom + (scaleN(n) - nRange[1]) / diff(nRange) * (dataTop - dataBottom)
  ticks <- if (logSizes) {
    t <- as.vector(outer(c(2, 5, 10), 10^(0:6)))
    t[t >= 2 & t <= max(sizes)]
  } else {
    t <- pretty(c(2, max(sizes)))
    t[t >= 2 & t <= max(sizes) & t == round(t)]
  }
  axis(2, at = yOf(ticks), labels = ticks, las = 1, cex.axis = 0.9)
  mtext("Samples of the MLG (n)", side = 2, line = 4, cex = 0.85,
        at = (dataBottom + dataTop) / 2)

  # Points that would cover each other are moved apart a little: up or down,
  # at most a third of the way to the next clone size, so that n stays
  # readable; in the bin left of the break (which holds no particular
  # value) also sideways.  Where there is no room they overlap, and the
  # light fill shows the crowd.
  px <- position(clonal$psex)
  py <- yOf(clonal$n)
  size <- 0.12                                     # a point's width in inches
  offBin <- offScale(clonal$psex)
  reachY <- (yOf(clonal$n + 1) - yOf(clonal$n)) / 3
  placedX <- numeric(0)
  placedY <- numeric(0)
  for (i in order(px, py)) {
    stepsY <- c(0, as.vector(rbind(1:6, -(1:6)))) * 0.5 * size * yPerInch
    stepsY <- stepsY[abs(stepsY) <= reachY[i]]
    stepsX <- 0
    if (offBin[i]) {
      room <- floor((offWidth / xPerInch - size) / (0.9 * size) / 2)
      stepsX <- c(0, as.vector(rbind(seq_len(room), -seq_len(room)))) * 0.9 * size * xPerInch
    }
    candidates <- expand.grid(x = stepsX, y = stepsY)
    candidates <- candidates[order(abs(candidates$y) / yPerInch + abs(candidates$x) / xPerInch), ]
    # The nearest place that is clear, else the one least covered.
    nearest <- vapply(seq_len(nrow(candidates)), function(r) {
      min(Inf, sqrt(((placedX - px[i] - candidates$x[r]) / xPerInch)^2 +
                      ((placedY - py[i] - candidates$y[r]) / yPerInch)^2))
    }, 0)
    r <- if (any(nearest >= 0.85 * size)) which(nearest >= 0.85 * size)[1] else which.max(nearest)
    px[i] <- px[i] + candidates$x[r]
    py[i] <- py[i] + candidates$y[r]
    placedX <- c(placedX, px[i])
    placedY <- c(placedY, py[i])
  }

  # Labels: vertical text in one row, kept off the threshold lines and the
  # axis break, each joined to its point by a thin leader line.
  if (nrow(labelled)) {
    chosen <- match(labelled$name, clonal$name)
    # Left to right; at one place the higher point first, so that leaders
    # fanning out to the right do not cross.
    chosen <- chosen[order(px[chosen], -py[chosen])]
    footprint <- (strheight("M", units = "inches", cex = labelCex) + 0.07) * xPerInch
    gap <- 0.05 * xPerInch
    verticals <- c(if (haveThresholds) position(thresholds$threshold), if (anyOff) breakAt)
    taken <- cbind(verticals - gap, verticals + gap)
    free <- freeStretches(usr[1] + 0.02 * xPerInch, usr[2] - 0.02 * xPerInch, taken)
    centre <- NULL
    shown <- length(chosen)
    while (shown > 0) {
      keep <- sort(match(head(labelled$name, shown), clonal$name[chosen]))
      centre <- placeInRow(px[chosen[keep]], rep(footprint, length(keep)), free)
      if (!is.null(centre)) break
      shown <- shown - 1
    }
    if (shown < nrow(labelled))
      cat(sprintf("Note: room for %d of the %d labels only.\n", shown, nrow(labelled)))
    if (shown > 0) {
      chosen <- chosen[keep]
      # The slots keep their places; the labels among them are swapped
      # until no two leaders cross (points at one place or in a crowd).
      leaderTop <- labelBase - 0.015
      leaderFoot <- py[chosen] + 0.5 * size * yPerInch
      slot <- untangle(px[chosen] / xPerInch, leaderFoot / yPerInch, centre / xPerInch,
                       leaderTop / yPerInch)
      centre <- centre[slot]
      style <- styleOf(clonal$level[chosen])
      segments(px[chosen], leaderFoot, centre, leaderTop, col = "grey50", lwd = 0.8)
      text(centre, labelBase, labelText[chosen], srt = 90, adj = c(0, 0.5), cex = labelCex,
           col = style$text, font = 2)
    }
  }

  # The points last, over lines and leaders; the strongest on top, the
  # labelled ones above all.
  ordering <- order(clonal$name %in% labelled$name,
                    match(clonal$level, c("none", levelNames)), -clonal$psex)
  style <- styleOf(clonal$level[ordering])
  points(px[ordering], py[ordering], pch = style$pch, bg = adjustcolor(style$fill, 0.8),
         col = style$border, cex = 1.3, lwd = 0.9)
}

# ---- the lower panel: the simulated values ----------------------------------

drawSimulated <- function() {
  par(mar = c(4.2, 5.6, 0.4, 1.5))
  plot(NA, xlim = xlim, ylim = c(0, top * 1.1), xaxs = "i", yaxs = "i", xaxt = "n",
       yaxt = "n", xlab = "PSex (log scale)", ylab = "", bty = "n")
  box(col = "grey40")
  mtext("Simulated values", side = 2, line = 4, cex = 0.85)
  yTicks <- unique(round(pretty(c(0, top), n = 4)))
  axis(2, at = yTicks[yTicks <= top * 1.1], las = 1, cex.axis = 0.9)
  drawPSexAxis()
  drawBreak()
  rect(breaks[-length(breaks)], 0, breaks[-1], counts, col = "grey80", border = "grey45")
  if (zeroSimulated > 0)
    rect(zeroAt - binWidth / 2, 0, zeroAt + binWidth / 2, zeroSimulated, col = "grey60",
         border = "grey30")
  drawThresholdLines()
  if (!length(simulated)) {
    usr <- par("usr")
    legend(mean(usr[1:2]), mean(usr[3:4]), notes[1], xjust = 0.5, yjust = 0.5,
           bg = "#FFF4D6", box.col = "#8C5300", text.col = "#5A3500", cex = 1)
  }
}

# ---- the legend strip -------------------------------------------------------

drawLegend <- function() {
  par(mar = c(0, 1.5, 0, 1.5))
  plot.new()
  plot.window(c(0, 1), c(0, 1), xaxs = "i", yaxs = "i")
  legend(0, 1, bty = "n", cex = 0.85,
         legend = sprintf("simulated PSex values (%d)", length(simulated)),
         fill = "grey80", border = "grey45")
  if (nrow(clonal)) {
    perLevel <- as.vector(table(factor(clonal$level, levels = levelNames)))
    legend(0, 0.72, bty = "n", cex = 0.85, horiz = TRUE, x.intersp = 1,
           text.width = strwidth("*** (000)", cex = 0.85),
           legend = sprintf("%s (%d)", levelNames, perLevel), pch = styleOf(levelNames)$pch,
           pt.bg = styleOf(levelNames)$fill, col = styleOf(levelNames)$border, pt.cex = 1.3,
           title = sprintf("clonal MLGs (%d), by code:", nrow(clonal)), title.adj = 0)
  }
  if (haveThresholds) {
    legend(0.5, 1, bty = "n", cex = 0.85,
           legend = sprintf("%s = %.3g (realized level %g)", thresholds$label,
                            thresholds$threshold, thresholds$realized),
           lty = thresholdTypes, col = thresholdColour, lwd = 1.6, seg.len = 2.5)
  }
  footer <- if (length(simulated)) notes else notes[-1]   # M = 0 is said in the panel
  footer <- footer[footer != "No genotype is seen more than once in the data."]
  if (haveFamilywise)
    footer <- c(footer, paste("fw: the study-wide (family-wise) level of a labelled MLG, from",
                              "the share of simulated data sets with a repeat as extreme."))
  if (nrow(significant) > nrow(labelled))
    footer <- c(footer,
                sprintf("Labelled: the %d MLGs at * or better with the smallest PSex, of %d.",
                        nrow(labelled), nrow(significant)))
  if (length(footer))
    text(0.005, 0.06, paste(footer, collapse = "   "), adj = c(0, 0), cex = 0.8, col = "grey20")
}

drawPicture(output, 1100, 860, function() {
  layout(matrix(1:3, ncol = 1), heights = c(5, 3, 1.4))
  par(oma = c(0, 0, 3.4, 0))
  drawObserved()
  drawSimulated()
  drawLegend()
  mtext(paste0("PSex of the repeated genotypes and of chance repeats: ", runName), outer = TRUE,
        side = 3, line = 1.9, font = 2, cex = 1.15)
  mtext(sprintf("N = %s; %s from the simulated data sets without clones",
                plural(sampleSize, "sample", "samples"),
                plural(length(simulated), "simulated PSex value", "simulated PSex values")),
        outer = TRUE, side = 3, line = 0.5, cex = 0.9)
})

# ---- the map -----------------------------------------------------------------

# The pairs (from, to) of the minimum spanning tree of the points (x, y):
# the shortest lines that join them all, for the ramets of one genet.
spanningTree <- function(x, y) {
  n <- length(x)
  if (n < 2) return(matrix(integer(0), ncol = 2))
  inTree <- c(TRUE, rep(FALSE, n - 1))
  best <- (x - x[1])^2 + (y - y[1])^2
  from <- rep(1L, n)
  edges <- matrix(integer(0), ncol = 2)
  for (step in seq_len(n - 1)) {
    candidates <- which(!inTree)
    k <- candidates[which.min(best[candidates])]
    edges <- rbind(edges, c(from[k], k))
    inTree[k] <- TRUE
    closer <- !inTree & (x - x[k])^2 + (y - y[k])^2 < best
    from[closer] <- k
    best[closer] <- ((x - x[k])^2 + (y - y[k])^2)[closer]
  }
  edges
}

drawMap <- function(map) {
  places <- map$places
  sizes <- table(places$genet)
  repeated <- as.numeric(names(sizes)[sizes >= 2])
  # The largest genets first, for the colours and the key.
  repeated <- repeated[order(-sizes[as.character(repeated)], repeated)]
  colours <- if (length(repeated)) hcl.colors(max(length(repeated), 2), "Dark 3") else character(0)
  colourOf <- setNames(rep(colours, length.out = length(repeated)), repeated)
  # The key goes in the right margin, clear of the samples.
  par(mar = c(4.5, 4.5, 4.8, 17))
  if (!nrow(places)) {
    plot.new()
    legend("center", "No sample has usable coordinates.", bg = "#FFF4D6", box.col = "#8C5300",
           text.col = "#5A3500")
  } else {
    span <- function(v) if (diff(range(v)) > 0) range(v) else range(v) + c(-1, 1)
    plot(NA, xlim = span(places$x), ylim = span(places$y), asp = 1, xlab = "x", ylab = "y",
         las = 1, cex.axis = 0.9)
    grid(col = "grey90", lty = 1)
    box(col = "grey40")
    for (genet in repeated) {
      own <- places[places$genet == genet, ]
      edges <- spanningTree(own$x, own$y)
      segments(own$x[edges[, 1]], own$y[edges[, 1]], own$x[edges[, 2]], own$y[edges[, 2]],
               col = colourOf[[as.character(genet)]], lwd = 2)
    }
    single <- !(places$genet %in% repeated)
    points(places$x[single], places$y[single], pch = 21, bg = "white", col = "grey45", cex = 1.1)
    inRepeated <- which(!single)
    points(places$x[inRepeated], places$y[inRepeated], pch = 21, cex = 1.4, col = "grey15",
           bg = colourOf[as.character(places$genet[inRepeated])])
  }
  shown <- head(repeated, 12)
  if (length(shown)) {
    keyText <- vapply(shown, function(genet) {
      subrange <- map$subrange[as.character(genet)]
      sprintf("%s %g: %s%s", map$unit, genet,
              plural(sizes[[as.character(genet)]], "sample", "samples"),
              if (!is.na(subrange)) sprintf(", subrange %.3g", subrange) else "")
    }, "")
    legend(grconvertX(1, "npc", "user") + grconvertX(0.15, "inches", "user") -
             grconvertX(0, "inches", "user"), grconvertY(1, "npc", "user"), xpd = NA,
           legend = keyText, pch = 21, pt.bg = colourOf[as.character(shown)],
           col = "grey15", pt.cex = 1.3, cex = 0.75, bty = "n", title.adj = 0, title = if (length(repeated) > length(shown))
             sprintf("the %d largest of %d", length(shown), length(repeated)))
  }
  title(paste0("Where the clones are: ", runName), line = 3, cex.main = 1.15)
  mtext(sprintf("%d of %s located; coloured by %s, the samples of one %s joined; open: alone%s",
                nrow(places), plural(map$all, "sample", "samples"), map$unit, map$unit,
                if (!is.na(map$aggregation[1])) {
                  sprintf("; Ac = %.3g%s", map$aggregation[1],
                          if (!is.na(map$aggregation[2])) sprintf(" (p = %.3g)", map$aggregation[2])
                          else "")
                } else ""),
        side = 3, line = 1.5, cex = 0.85)
}

# ---- the distances picture --------------------------------------------------

# Shares of the pairs at each distance; 0 for a kind without pairs.
share <- function(x) if (sum(x) > 0) x / sum(x) else 0 * x

drawDistances <- function() {
  d <- distances$distance
  observed <- share(distances$observed_pairs)
  sibling <- share(distances$sibling_pairs)
  unrelated <- share(distances$unrelated_pairs)
  width <- 0.26
  keyText <- c(sprintf("observed MLG pairs (%d; count above bar)", sum(distances$observed_pairs)),
               sprintf("simulated full-sibling pairs (%d)", sum(distances$sibling_pairs)),
               sprintf("simulated unrelated pairs (%d)", sum(distances$unrelated_pairs)))
  keyFill <- c("#D7301F", "#9CC3E6", "grey80")
  keyBorder <- c("#7F0000", "#1F4E9E", "grey40")
  par(mar = c(4.5, 5, 4.8, 1.5))
  xlim <- c(min(d, 0) - 0.7, max(d, 0) + 0.7)

  # Room above the bars for the key in the top right corner: the bars and
  # counts under it must end below it.
  top <- max(c(observed, sibling, unrelated, 0.01)) * 1.12
  plot.new()
  for (attempt in 1:2) {
    plot.window(xlim, c(0, top), xaxs = "i", yaxs = "i")
    countHeight <- 1.6 * strheight("0", cex = 0.7)
    key <- legend("topright", legend = keyText, fill = keyFill, cex = 0.85, plot = FALSE)$rect
    under <- d + 1.5 * width >= key$left
    highest <- max(c(0, observed[under] + countHeight, sibling[under], unrelated[under]))
    if (!length(d)) break
    keyShare <- key$h / top
    if (highest <= top - key$h) break
    top <- highest * 1.04 / (1 - keyShare)
  }
  box(col = "grey40")
  axis(1, at = d, cex.axis = 0.9)
  axis(2, las = 1, cex.axis = 0.9)
  title(xlab = "Distance between two MLGs (allele copies)", ylab = "Share of the pairs")
  usr <- par("usr")
  # MLGs at most MLLDISTANCE apart are joined; 0 (or less) joins nothing.
  joining <- !is.na(lineageDistance) && lineageDistance >= 1
  if (joining) {
    rect(usr[1], 0, lineageDistance + 0.5, usr[4], col = "#EEF3FA", border = NA)
    abline(v = lineageDistance + 0.5, col = thresholdColour, lty = 2, lwd = 1.6)
    mtext(sprintf("MLLDISTANCE = %g", lineageDistance), side = 3, line = 0.2,
          at = lineageDistance + 0.5, col = thresholdColour, cex = 0.85)
  }
  if (length(d)) {
    rect(d - 1.5 * width, 0, d - 0.5 * width, observed, col = keyFill[1], border = keyBorder[1])
    rect(d - 0.5 * width, 0, d + 0.5 * width, sibling, col = keyFill[2], border = keyBorder[2])
    rect(d + 0.5 * width, 0, d + 1.5 * width, unrelated, col = keyFill[3], border = keyBorder[3])
    # The observed counts above their bars: a share of a few pairs is easy
    # to overrate.
    text(d - width, observed, distances$observed_pairs, pos = 3, offset = 0.25, cex = 0.7,
         col = "#7F0000")
  }
  legend("topright", legend = keyText, fill = keyFill, border = keyBorder, cex = 0.85,
         bg = "white", box.col = "grey60")
  title(paste0("Distances between multilocus genotypes: ", runName), line = 3, cex.main = 1.15)
  mtext(if (!joining) {
          "Share of the pairs at each distance, observed and simulated"
        } else {
          paste("Share of the pairs at each distance; left of the dashed line,",
                "MLGs are joined into lineages")
        }, side = 3, line = 1.5, cex = 0.9)
  if (sum(distances$observed_pairs) == 0)
    legend("center", "No pair of observed MLGs (fewer than two MLGs).", bg = "#FFF4D6",
           box.col = "#8C5300", text.col = "#5A3500")
}

if (!is.null(distances)) drawPicture(distancesOutput, 990, 620, drawDistances)
if (!is.null(map)) drawPicture(mapOutput, 1100, 860, function() drawMap(map))
for (file in written) cat("Wrote ", file, "\n", sep = "")
