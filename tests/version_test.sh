#!/bin/sh
# version_test.sh: psex --version, psex-import --version, psex-plot --version
# and the title lines of the three manual pages name one version, the
# project's.
#
# usage: version_test.sh VERSION PSEX PSEX_IMPORT RSCRIPT PSEX_PLOT PAGE...
#
# RSCRIPT runs psex-plot; when it is no program (CMake's RSCRIPT-NOTFOUND on
# a machine without R) the test fails and says so, since psex-plot's version
# cannot be checked.

version=$1
failed=0

check() {
    # check WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "$1: expected '$2', got '$3'"
        failed=1
    fi
}

check "psex --version" "psex $version" "$("$2" --version)"
check "psex-import --version" "psex-import $version" "$("$3" --version)"
if [ -x "$4" ] && [ ! -d "$4" ]; then
    check "psex-plot --version" "psex-plot $version" "$("$4" "$5" --version)"
else
    echo "psex-plot --version: Rscript not found: install R (make test does) and configure again"
    failed=1
fi
shift 5
[ $# -gt 0 ] || { echo "no manual page given"; failed=1; }
for page in "$@"; do
    # .TH NAME SECTION DATE SOURCE MANUAL: the source names the version.
    check "$page" "psex $version" "$(sed -n 's/^\.TH [^"]*"[^"]*" "\([^"]*\)".*/\1/p' "$page")"
done
[ "$version" != "" ] || { echo "no version given"; failed=1; }
exit $failed
