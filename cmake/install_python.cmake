# `cmake --install` puts the Python package where Debian's interpreter looks for the prefix's
# modules, and records in it where the library went: a user of an installed copy needs neither
# PYTHONPATH tricks for /usr and /usr/local nor KQFW_LIBRARY.
if(WIN32 OR NOT EXISTS /usr/bin/python3)
  return()
endif()
execute_process(COMMAND /usr/bin/python3 -c "import sys; print('%d.%d' % sys.version_info[:2])"
  OUTPUT_VARIABLE kqfw_python_version OUTPUT_STRIP_TRAILING_WHITESPACE)
# Debian's interpreter reads /usr/lib/python3/dist-packages for the system's own packages and
# lib/python3.X/dist-packages under any other prefix (/usr/local included).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(kqfw_python_default lib/python3/dist-packages)
else()
  set(kqfw_python_default lib/python${kqfw_python_version}/dist-packages)
endif()
set(KQFW_INSTALL_PYTHONDIR ${kqfw_python_default} CACHE STRING
  "Where cmake --install puts the Python package, relative to the prefix")

install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/kqfw DESTINATION ${KQFW_INSTALL_PYTHONDIR}
  PATTERN __pycache__ EXCLUDE)
# The prefix is known only at install time (--prefix), so the record is written then.
install(CODE "
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${KQFW_INSTALL_PYTHONDIR}/kqfw/_installed.py\"
    \"\\\"\\\"\\\"Written by cmake --install: where the library was installed.\\\"\\\"\\\"\\n\\nLIBRARY = \\\"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/libkqfw.so.${PROJECT_VERSION_MAJOR}\\\"\\n\")
")
