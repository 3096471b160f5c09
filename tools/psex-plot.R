#!/usr/bin/env Rscript
# psex-plot: draw the simulated PSex values of a psex run.
#
# Usage:  psex-plot simresults_<run>.csv [out.png]
#         (from the source tree: Rscript tools/psex-plot.R ...)
#
# Reads a simulation results file written by psex and draws, to a PNG file,
#   - the distribution of the simulated PSex values (the PSex of every
#     genotype that repeated by chance in a simulated data set without
#     clones), as a histogram on a log scale;
#   - the three significance thresholds PValue(0.01), PValue(0.05) and
#     PValue(0.10) as dashed lines;
#   - the observed PSex of every genotype seen more than once in the data
#     (the "clonal" MLGs) as a red mark labelled with its MLG number.
# A genotype whose observed PSex lies left of a threshold has a PSex smaller
# than that share of the chance repeats.
#
# A PSex of 0 (the number is below what a double can hold, or an allele of
# the genotype has frequency 0) has no place on a log scale.  Such values,
# simulated or observed, are drawn in a separate bin labelled "0" to the left
# of the axis break, and the plot says how many there are.
#
# Without an output name the picture goes beside the input, with ".png" in
# place of ".csv".  A short summary is printed on standard output.
# Base R only: nothing to install beyond R itself.

fail <- function(...) {
  message("psex-plot: ", ...)
  quit(save = "no", status = 1)
}

args <- commandArgs(trailingOnly = TRUE)
if (length(args) < 1 || length(args) > 2) {
  message("usage: psex-plot simresults_<run>.csv [out.png]")
  quit(save = "no", status = 2)
}
input <- args[1]
output <- if (length(args) == 2) args[2] else sub("(\\.csv)?$", ".png", input)
if (!file.exists(input)) fail("cannot read '", input, "'")

lines <- readLines(input, warn = FALSE)
lines <- sub("\r$", "", lines)
cells <- strsplit(lines, ",", fixed = TRUE)
first <- vapply(cells, function(x) if (length(x)) x[1] else "", "")

# ---- the pieces of the file -------------------------------------------

# The block after the line 'label': its lines up to the next empty line.
blockAfter <- function(label) {
  start <- match(label, lines)
  if (is.na(start)) return(integer(0))
  i <- start + 1
  rows <- integer(0)
  while (i <= length(lines) && nzchar(lines[i])) {
    rows <- c(rows, i)
    i <- i + 1
  }
  rows
}

if (!length(grep("^MLG,n,PSex,", lines)) || is.na(match("PSex Values:", lines)))
  fail("'", input, "' is not a psex simulation results file")

runName <- local({
  title <- grep("^TITLE,", lines, value = TRUE)
  if (length(title) && nzchar(sub("^TITLE,", "", title[1]))) sub("^TITLE,", "", title[1])
  else sub("^Datafile,", "", lines[1])
})

simulated <- as.numeric(sub(",$", "", lines[blockAfter("PSex Values:")]))
if (anyNA(simulated)) fail("unreadable value in the PSex Values block of '", input, "'")

thresholds <- do.call(rbind, lapply(c("PValue(0.01)", "PValue(0.05)", "PValue(0.10)"),
  function(label) {
    row <- cells[[match(label, first)]]
    if (is.null(row) || length(row) < 4) fail("no ", label, " line in '", input, "'")
    data.frame(label = label, level = as.numeric(sub("PValue\\((.*)\\)", "\\1", label)),
               threshold = as.numeric(row[2]), realized = as.numeric(row[4]))
  }))

mlgRows <- which(grepl("^MLG[0-9]+,", lines))
mlgs <- data.frame(
  name = vapply(cells[mlgRows], `[`, "", 1),
  n = as.numeric(vapply(cells[mlgRows], `[`, "", 2)),
  psex = suppressWarnings(as.numeric(vapply(cells[mlgRows], `[`, "", 3))),
  code = vapply(cells[mlgRows], `[`, "", 5),
  stringsAsFactors = FALSE)
clonal <- mlgs[mlgs$n >= 2 & !is.na(mlgs$psex), ]
sampleSize <- as.numeric(cells[[match("Samplesize", first)]][2])

plural <- function(count, one, many) sprintf("%.0f %s", count, if (count == 1) one else many)

# ---- summary on the console -------------------------------------------

zeroSimulated <- sum(simulated == 0)
cat(sprintf("Run %s: N = %s, %s (%d of them 0)\n", runName,
            plural(sampleSize, "sample", "samples"),
            plural(length(simulated), "simulated PSex value", "simulated PSex values"),
            zeroSimulated))
for (i in seq_len(nrow(thresholds)))
  cat(sprintf("%s: threshold %g, realized level %g\n", thresholds$label[i],
              thresholds$threshold[i], thresholds$realized[i]))
cat(sprintf("Genotypes seen more than once: %d\n", nrow(clonal)))
for (i in seq_len(nrow(clonal)))
  cat(sprintf("  %s: n = %g, PSex = %g, %s\n", clonal$name[i], clonal$n[i], clonal$psex[i],
              clonal$code[i]))

# ---- the log scale, with a place for zeros ----------------------------

positive <- c(simulated, thresholds$threshold, clonal$psex)
positive <- positive[positive > 0]
if (length(positive)) {
  left <- floor(log10(min(positive)))
  right <- ceiling(log10(max(positive)))
} else {
  left <- -1
  right <- 0
}
right <- min(right, 0)        # no probability is above 1
if (right <= left) left <- right - 1
zeroAt <- left - 1.5         # the bin of zeros, beyond an axis break
anyZero <- zeroSimulated > 0 || any(clonal$psex == 0) || any(thresholds$threshold == 0)
position <- function(x) ifelse(x > 0, log10(x), zeroAt)

binWidth <- if (right - left > 12) 0.5 else 0.25
breaks <- seq(left, right, by = binWidth)
counts <- rep(0, length(breaks) - 1)
if (any(simulated > 0)) {
  counts <- hist(log10(simulated[simulated > 0]), breaks = breaks, plot = FALSE)$counts
}
top <- max(c(counts, zeroSimulated, 1))

# ---- the picture --------------------------------------------------------

if (capabilities("cairo")) {
  png(output, width = 900, height = 600, res = 96, type = "cairo")
} else {
  png(output, width = 900, height = 600, res = 96)
}
# The plot on top, its legend and notes in a strip below it.
layout(matrix(1:2, ncol = 1), heights = c(4, 1))
par(mar = c(4.5, 4.5, 4, 1))
xlim <- c(if (anyZero) zeroAt - binWidth else left, right)
plot(NA, xlim = xlim, ylim = c(0, top * 1.45), xaxt = "n", yaxt = "n", yaxs = "i",
     xlab = "PSex (log scale)", ylab = "Number of simulated values",
     main = paste0("Simulated PSex values: ", runName))
mtext(sprintf("%s from the simulated data sets, N = %s",
              plural(length(simulated), "value", "values"),
              plural(sampleSize, "sample", "samples")),
      side = 3, line = 0.3, cex = 0.9)

yTicks <- unique(round(pretty(c(0, top))))
axis(2, at = yTicks[yTicks <= top], las = 1)
decades <- seq(left, right, by = if (right - left > 12) 2 else 1)
axis(1, at = decades, labels = parse(text = paste0("10^", decades)), las = 1)
if (anyZero) {
  axis(1, at = zeroAt, labels = "0")
  text((left + zeroAt) / 2, 0, "//", xpd = TRUE, cex = 1.1)
}

rect(breaks[-length(breaks)], 0, breaks[-1], counts, col = "grey80", border = "grey40")
if (zeroSimulated > 0) {
  rect(zeroAt - binWidth / 2, 0, zeroAt + binWidth / 2, zeroSimulated,
       col = "grey60", border = "grey30", density = 25)
}

# Marks that fall on the same place share one label.
# Labels read upwards; 'side' -0.3 puts them just left of their line, 0.5
# centres them on it.
labelGroups <- function(x, labels, y, colour, side) {
  groups <- split(labels, round(x, 3))
  for (key in names(groups)) {
    text(as.numeric(key), y, paste(groups[[key]], collapse = ", "), col = colour,
         adj = c(0, side), srt = 90, cex = 0.8)
  }
}

lineTypes <- c(3, 2, 4)
for (i in seq_len(nrow(thresholds))) {
  abline(v = position(thresholds$threshold[i]), lty = lineTypes[i], col = "blue", lwd = 1.5)
}
labelGroups(position(thresholds$threshold), sprintf("%g%%", 100 * thresholds$level),
            top * 1.02, "blue", -0.3)

if (nrow(clonal)) {
  at <- position(clonal$psex)
  segments(at, 0, at, top * 0.9, col = "red", lwd = 2)
  points(at, rep(top * 0.9, length(at)), pch = 25, col = "red", bg = "red")
  labelGroups(at, clonal$name, top * 0.93, "red", 0.5)
}

par(mar = c(0, 1, 0, 1))
plot.new()
legendText <- c(
  sprintf("simulated PSex values (%d)", length(simulated)),
  sprintf("observed PSex of the %s seen more than once",
          plural(nrow(clonal), "genotype", "genotypes")),
  "",
  sprintf("%s = %.3g (realized level %g)", thresholds$label, thresholds$threshold,
          thresholds$realized))
legend("top", legend = legendText, ncol = 2, bty = "n", cex = 0.85,
       fill = c("grey80", NA, NA, NA, NA, NA), border = c("grey40", NA, NA, NA, NA, NA),
       lty = c(NA, 1, NA, lineTypes), col = c(NA, "red", NA, "blue", "blue", "blue"),
       lwd = c(NA, 2, NA, 1.5, 1.5, 1.5), x.intersp = 0.8)

notes <- character(0)
if (!length(simulated))
  notes <- c(notes, "No genotype repeated by chance in the simulations: every threshold is 1.")
if (zeroSimulated > 0 || any(clonal$psex == 0))
  notes <- c(notes, sprintf("PSex 0, drawn left of the axis break: %s, %s.",
                            plural(zeroSimulated, "simulated value", "simulated values"),
                            plural(sum(clonal$psex == 0), "observed genotype",
                                   "observed genotypes")))
if (!nrow(clonal)) notes <- c(notes, "No genotype is seen more than once in the data.")
if (length(notes)) text(0.5, 0.1, paste(notes, collapse = "  "), cex = 0.85)

invisible(dev.off())
cat("Wrote", output, "\n")
