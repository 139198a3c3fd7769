#!/bin/sh
# The library's folders are floors, each built only on the ones below it: a file may include
# its own floor's headers, lower floors' and the public headers, never a higher floor's.
set -eu
src=$1
floors="platform transport sim backends camera processing acquisition api"
bad=0
level=0
for floor in $floors; do
    above=$(echo "$floors" | tr ' ' '\n' | tail -n +$((level + 2)) | tr '\n' '|')
    above=${above%|}
    if [ -n "$above" ]; then
        if grep -rnE "#include \"($above)/" "$src/$floor"; then
            bad=1
        fi
    fi
    level=$((level + 1))
done
for dir in "$src"/*/; do
    name=$(basename "$dir")
    case " $floors " in
    *" $name "*) ;;
    *) echo "$name: a folder on no floor" && bad=1 ;;
    esac
done
[ "$bad" -eq 0 ] && echo "every include points down"
