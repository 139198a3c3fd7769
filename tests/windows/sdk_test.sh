#!/usr/bin/env bash
# Installs the Windows build as the SDK folder, zips it with CPack, and builds applications
# against the installed SDK (not the build tree): the snapshot example as a mingw application
# would, through the CMake package (kqfw::kqfw, libkqfw64.dll.a), and msvc_client.c as an MSVC
# one would, with clang in MSVC mode and lld-link through kqfw64.lib. Both run under Wine with
# only the SDK's bin/ on the DLL path and must take an image. The SDK holds the shipped files and
# nothing else: no test program, no test framework.
#
#   tests/windows/sdk_test.sh BUILD_DIR SOURCE_DIR WINE
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
wine=$3
sdk="$build/sdk"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "kqfw SDK: $*" >&2; exit 1; }

rm -rf "$sdk"
cmake --install "$build" --prefix "$sdk" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
files() { sed 's|^\./||' | grep -v '/$' | sort; }
wanted=$({
    printf '%s\n' bin/kqcam.exe bin/kqfw64.dll lib/kqfw64.def lib/kqfw64.lib lib/libkqfw64.dll.a \
        lib/cmake/kqfw/kqfwConfig.cmake lib/cmake/kqfw/kqfwConfigVersion.cmake \
        lib/cmake/kqfw/kqfwTargets.cmake lib/cmake/kqfw/kqfwTargets-release.cmake
    (cd "$source" && find include -type f)
} | files)
installed=$(cd "$sdk" && find . -type f | files)
diff <(echo "$wanted") <(echo "$installed") >&2 || fail "the installed files differ from the SDK's"

# The zip holds the same files under one top folder.
rm -f "$build"/kqfw-*-win64.zip
(cd "$build" && cpack) >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
zip=$(ls "$build"/kqfw-*-win64.zip)
zipped=$(cmake -E tar tf "$zip" | sed 's|^[^/]*/||' | files)
diff <(echo "$installed") <(echo "$zipped") >&2 || fail "$(basename "$zip") differs from the SDK"

# The MSVC import library imports every function the DLL exports, from kqfw64.dll.
exports=$(x86_64-w64-mingw32-objdump -p "$sdk/bin/kqfw64.dll" |
    sed -n '/Ordinal\/Name Pointer/,/^$/p' | awk '/^\t\[ *[0-9]+\]/ {print $NF}' | sort)
imports=$(x86_64-w64-mingw32-nm "$sdk/lib/kqfw64.lib" |
    awk '$3 ~ /^__imp_/ {print substr($3, 7)}' | sort -u)
diff <(echo "$exports") <(echo "$imports") >&2 ||
    fail "kqfw64.lib does not import the DLL's exports"
grep -q -a 'kqfw64\.dll' "$sdk/lib/kqfw64.lib" || fail "kqfw64.lib names no kqfw64.dll"

toolchain="$source/cmake/mingw-w64-x86_64.cmake"
cmake -S "$source/tests/install_consumer" -B "$work/cmake" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$sdk" \
    -DEXAMPLE_DIR="$source/examples" \
    >"$work/log" 2>&1 && cmake --build "$work/cmake" >>"$work/log" 2>&1 ||
    { cat "$work/log"; fail "the CMake package does not build the example"; }
# Debian has no MSVC C runtime or system import libraries: the client needs no C runtime, and
# takes kernel32's import library from mingw, which lld-link reads as well.
clang --target=x86_64-pc-windows-msvc -std=c11 -ffreestanding -O2 -Wall -Wextra -Werror \
    -I"$sdk/include" -c "$source/tests/windows/msvc_client.c" -o "$work/msvc_client.obj" &&
    lld-link /nologo /subsystem:console /entry:msvc_client /nodefaultlib \
        /out:"$work/msvc_client.exe" "$work/msvc_client.obj" "$sdk/lib/kqfw64.lib" \
        /usr/x86_64-w64-mingw32/lib/libkernel32.a ||
    fail "kqfw64.lib does not link an MSVC-style application"

# Windows finds the DLL on PATH, as an application whose folder lacks it does.
export WINEPATH="Z:${sdk//\//\\}\\bin" KQFW_DRIVER=sim
(cd "$work" && timeout 300 "$wine" cmake/snapshot.exe snapshot.ppm) >"$work/log" 2>&1 || true
grep -q "snapshot.ppm: 1388 x 1040, colour" "$work/log" ||
    { cat "$work/log"; fail "the mingw application took no image"; }
status=0
(cd "$work" && timeout 300 "$wine" msvc_client.exe) >"$work/log" 2>&1 || status=$?
[ "$status" -eq 0 ] ||
    { cat "$work/log"; fail "the MSVC-style application failed at step $status"; }
echo "kqfw: the SDK ($(echo "$installed" | wc -l) files, $(basename "$zip") of" \
    "$(($(stat -c %s "$zip") / 1024)) KiB) builds applications with mingw through its CMake" \
    "package and MSVC-style through kqfw64.lib; both took an image under Wine" >&2
