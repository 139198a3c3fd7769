# What `cmake --install` puts in place for an application's build: the library, its headers,
# a pkg-config file and a CMake package (kqfw::kqfw). The tool installs itself; tests never do.
# On Windows the prefix is the SDK folder: the DLL and kqcam.exe in bin/, the import libraries
# of mingw and MSVC in lib/ (no pkg-config file), and CPack zips it.
include(CMakePackageConfigHelpers)

install(TARGETS kqfw EXPORT kqfwTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  install(FILES ${kqfw_msvc_import_files} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kqfw DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(kqfw_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kqfw)
install(EXPORT kqfwTargets NAMESPACE kqfw:: DESTINATION ${kqfw_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kqfwConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kqfwConfig.cmake INSTALL_DESTINATION ${kqfw_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kqfwConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kqfwConfig.cmake ${PROJECT_BINARY_DIR}/kqfwConfigVersion.cmake
  DESTINATION ${kqfw_cmake_dir})

# The pkg-config file names the prefix given at install time, so `cmake --install --prefix`
# into a staging folder gives a file that points there.
if(NOT WIN32)
  install(CODE "
  set(KQFW_PC_LIBDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}\")
  set(KQFW_PC_INCLUDEDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION ${PROJECT_VERSION})
  configure_file(\"${PROJECT_SOURCE_DIR}/cmake/kqfw.pc.in\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/kqfw.pc\" @ONLY)
  ")
endif()

# A Debian package of the same files (cpack -G DEB in the build folder), or on Windows the SDK
# as a zip (cpack in build-win) that unpacks to one folder, kqfw-<version>-win64.
set(CPACK_PACKAGE_NAME kqfw)
set(CPACK_PACKAGE_VENDOR "kqfw developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver library and tool of the Vestrix KQ FireWire microscope cameras")
set(CPACK_PACKAGE_CONTACT "kqfw developers <kqfw@localhost>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  math(EXPR kqfw_bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_PACKAGE_FILE_NAME kqfw-${PROJECT_VERSION}-win${kqfw_bits})
endif()
include(CPack)

# The udev rule that opens a camera's /dev/fw node to its users. Relative to the prefix by
# default, which is where udev looks for a /usr install (the Debian package); a /usr/local
# install puts it beside the rest and the README says where to copy it, or configure with
# -DKQFW_UDEV_RULES_DIR=/etc/udev/rules.d.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(KQFW_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "where cmake --install puts the udev rule")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/linux/60-kqfw-cameras.rules
    DESTINATION ${KQFW_UDEV_RULES_DIR})
endif()
