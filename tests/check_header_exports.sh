#!/bin/sh
# The camera API's header declares exactly the functions of the export list, the names Windows
# applications resolve.
set -eu
header=$1
list=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tr '\n' ' ' <"$header" | grep -o -E 'KQFW_API [A-Za-z0-9_ *]+\(' |
    sed -E 's/.*[ *]([A-Za-z0-9_]+)\($/\1/' | grep -v '^__' | sort -u >"$work/declared"
sort -u "$list" >"$work/listed"
diff "$work/listed" "$work/declared"
echo "$(wc -l <"$work/listed") functions declared and listed"
