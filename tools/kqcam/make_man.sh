#!/usr/bin/env bash
# Writes kqcam's man page from its own help, the top level and every command's, so the page
# never disagrees with the tool.
set -euo pipefail
kqcam="$1"
out="$2"
include="$(mktemp)"
trap 'rm -f "$include"' EXIT
{
    echo "[COMMANDS]"
    for command in list info snap stream series refs calibrate calibration firmware; do
        echo ".SS $command"
        echo ".nf"
        "$kqcam" "$command" --help | sed -e 's/\\/\\e/g' -e 's/^\./\\\&./'
        echo ".fi"
    done
} >"$include"
help2man --no-info --section 1 --name "use Vestrix KQ FireWire microscope cameras" \
    --include "$include" --output "$out" "$kqcam"
