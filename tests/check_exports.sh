#!/bin/sh
# Every symbol the shared library exports must be declared in a public header.
set -eu
library=$1
headers=$2
status=0
for symbol in $(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRW]$/ {print $3}'); do
    if ! grep -q -E "\b${symbol}\(" "$headers"/*.h; then
        echo "exported but not declared: $symbol"
        status=1
    fi
done
exit $status
