#!/bin/sh
# The Python package as a user installs it: pip into a virtual environment that sees Debian's
# numpy, offline, from a copy of the source folder; then a snapshot through the installed copy.
set -eu
library=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$source/python" "$work/python"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install --quiet --no-index --no-build-isolation "$work/python"
cd "$work"
KQFW_LIBRARY=$library "$work/venv/bin/python" - <<'PY'
import kqfw
print("installed at", kqfw.__file__)
with kqfw.Camera(0) as cam:
    cam.exposure_us = 20000
    image = cam.snap()
print("snap", image.shape, image.dtype)
PY
