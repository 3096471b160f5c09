#!/bin/sh
# version_test.sh: psex --version, psex-import --version and the title lines
# of both manual pages name one version, the project's.
#
# usage: version_test.sh VERSION PSEX PSEX_IMPORT PSEX_PAGE PSEX_IMPORT_PAGE

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
for page in "$4" "$5"; do
    # .TH NAME SECTION DATE SOURCE MANUAL: the source names the version.
    check "$page" "psex $version" "$(sed -n 's/^\.TH [^"]*"[^"]*" "\([^"]*\)".*/\1/p' "$page")"
done
[ "$version" != "" ] || { echo "no version given"; failed=1; }
exit $failed
