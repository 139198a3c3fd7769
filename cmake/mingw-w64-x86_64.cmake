# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX threading flavour, whose
# C++ library has std::thread): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Debian packages no Windows libtiff or CLI11: scripts/windows builds and stages them in a prefix
# of their own, searched beside mingw's. The prefixes a build names in CMAKE_PREFIX_PATH hold
# Windows files too (an application's build names the kqfw SDK folder so): searched as well.
set(KQFW_WINDOWS_DEPS "" CACHE PATH "Prefix holding the tool's Windows builds of its libraries")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${KQFW_WINDOWS_DEPS} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The DLL and the programs carry their runtime, so they run on a machine (or a Wine prefix)
# that has no mingw DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
