#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the snapshot example against the
# installed copy as an outside application would: once through pkg-config, once through
# find_package(kqfw CONFIG). Both programs must take an image; the installed kqcam must run.
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/kqfw/kqfw.h include/kqfw/kqfw_ext.h include/kqfw/kqsim.h bin/kqcam \
    share/man/man1/kqcam.1 lib/udev/rules.d/60-kqfw-cameras.rules; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
libdir="$(dirname "$(find "$prefix" -name 'libkqfw.so' | head -n 1)")"

# pkg-config: the flags alone must be enough to compile and link.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -std=c11 -Wall -Werror -I"$source/examples" "$source/examples/snapshot.c" -o "$work/snap_pc" \
    $(pkg-config --cflags --libs kqfw)
LD_LIBRARY_PATH="$libdir" "$work/snap_pc" "$work/pc.ppm" | grep -q "1388 x 1040, colour"

# The CMake package, found through the prefix alone.
cmake -S "$source/tests/install_consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    -DEXAMPLE_DIR="$source/examples" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/snapshot" "$work/cmake.ppm" | grep -q "1388 x 1040, colour"

# The installed tool finds the installed library next to it.
"$prefix/bin/kqcam" list | grep -q "KQC (colour)"
# The installed Python package, as Debian's interpreter finds it under the prefix, loads the
# installed library without being told where it is (and not this tree's copies).
pydir="$(dirname "$(find "$prefix" -path '*dist-packages/kqfw/__init__.py' | head -n 1)")"
(cd "$work" && env -u KQFW_LIBRARY -u LD_LIBRARY_PATH PYTHONPATH="$(dirname "$pydir")" \
    /usr/bin/python3 -c '
import kqfw, sys
loaded = kqfw.library()._name
assert loaded.startswith(sys.argv[1]), loaded
with kqfw.Camera(model="KQM") as cam:
    assert cam.snap().shape == (1040, 1388)
' "$prefix")

# The GStreamer plugin, when this build has it, loads from its installed place and finds the
# installed library there.
plugin="$(find "$prefix" -name libgstkqfw.so | head -n 1)"
if [ -n "$plugin" ]; then
    GST_PLUGIN_PATH="$(dirname "$plugin")" GST_REGISTRY="$work/registry.bin" \
        env -u LD_LIBRARY_PATH gst-launch-1.0 -q kqfwsrc camera=KQM num-buffers=2 ! fakesink
    # grep reads all of it: one that left at the first match would fail ldd on a broken pipe.
    ldd "$plugin" | grep "$prefix/.*libkqfw.so" >/dev/null
fi

echo "installed, and built against both ways, and from Python"
