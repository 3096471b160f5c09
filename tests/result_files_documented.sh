#!/bin/sh
# result_files_documented.sh: every result file that psex's driver names
# ("<prefix>_" + runName in src/psex/driver.cpp) has its row in the README's
# table of result files, its paragraph in the manual page and its line in
# 'psex --help', so that a new result file cannot go undocumented.
#
# usage: result_files_documented.sh SOURCE_DIR

source=$1
prefixes=$(grep -o '"[a-z]*_" + runName' "$source/src/psex/driver.cpp" | cut -d'"' -f2 | sort -u)
failed=0
[ -n "$prefixes" ] || { echo "no result file found in src/psex/driver.cpp"; exit 1; }
for prefix in $prefixes; do
    grep -qF "| \`${prefix}<run>.csv\` |" "$source/README.md" ||
        { echo "README.md: no row | \`${prefix}<run>.csv\` | in the table of result files"; failed=1; }
    grep -qxF ".BI ${prefix} run .csv" "$source/doc/psex.1.in" ||
        { echo "doc/psex.1.in: no paragraph .BI ${prefix} run .csv"; failed=1; }
    grep -qF "\"  ${prefix}<run>.csv" "$source/src/psex/commandline.cpp" ||
        { echo "src/psex/commandline.cpp: no line for ${prefix}<run>.csv in --help"; failed=1; }
done
exit $failed
