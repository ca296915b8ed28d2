# Cross-compiles for 64-bit Windows on Debian 12 with MinGW-w64 (the POSIX
# threading flavour, which std::thread and std::mutex need), against the Qt and
# GoogleTest that scripts/windows/build-qt.sh and build-googletest.sh cache under
# ~/.cache/qv-mingw. Programs run under Wine through CMAKE_CROSSCOMPILING_EMULATOR,
# so ctest runs the Windows test programs as it runs the Linux ones.
#
#   scripts/windows/build-qt.sh && scripts/windows/build-googletest.sh
#   cmake -S . -B build/windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
#
# QV_MINGW_QT_PREFIX and QV_MINGW_GTEST_PREFIX (cache or environment) point at
# other builds of the two.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(_qv_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_qv_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_qv_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_qv_triple}-windres)
set(CMAKE_AR /usr/bin/${_qv_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${_qv_triple}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP /usr/bin/${_qv_triple}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP /usr/bin/${_qv_triple}-objdump CACHE FILEPATH "")

# Where the cached builds are: the same names the scripts use (versions.env).
get_filename_component(_qv_root "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
file(STRINGS "${_qv_root}/scripts/windows/versions.env" _qv_versions REGEX "^QV_[A-Z_]+=")
foreach(_qv_line IN LISTS _qv_versions)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _qv_unused "${_qv_line}")
  set(_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
if(DEFINED ENV{QV_MINGW_CACHE})
  set(_qv_cache "$ENV{QV_MINGW_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(_qv_cache "$ENV{XDG_CACHE_HOME}/qv-mingw")
else()
  set(_qv_cache "$ENV{HOME}/.cache/qv-mingw")
endif()
foreach(_qv_what QT GTEST)
  if(NOT QV_MINGW_${_qv_what}_PREFIX AND DEFINED ENV{QV_MINGW_${_qv_what}_PREFIX})
    set(QV_MINGW_${_qv_what}_PREFIX "$ENV{QV_MINGW_${_qv_what}_PREFIX}")
  endif()
endforeach()
if(NOT QV_MINGW_QT_PREFIX)
  set(QV_MINGW_QT_PREFIX "${_qv_cache}/qt-${_QV_QT_VERSION}-r${_QV_QT_RECIPE}")
endif()
if(NOT QV_MINGW_GTEST_PREFIX)
  set(QV_MINGW_GTEST_PREFIX "${_qv_cache}/googletest-${_QV_GTEST_VERSION}-r${_QV_GTEST_RECIPE}")
endif()
set(QV_MINGW_QT_PREFIX "${QV_MINGW_QT_PREFIX}" CACHE PATH "Qt for Windows (scripts/windows/build-qt.sh)")
set(QV_MINGW_GTEST_PREFIX "${QV_MINGW_GTEST_PREFIX}" CACHE PATH "GoogleTest for Windows (scripts/windows/build-googletest.sh)")

# Header-only libraries come from Debian's host packages, mirrored into a prefix of
# their own (headers and CMake files only): pointing the target at /usr/include
# would bring the host's C library headers in with them.
set(_qv_headers "${_qv_cache}/host-headers")
if(EXISTS /usr/share/cmake/nlohmann_json AND EXISTS /usr/include/nlohmann
   AND NOT EXISTS "${_qv_headers}/include/nlohmann")
  file(COPY /usr/include/nlohmann DESTINATION "${_qv_headers}/include")
  file(COPY /usr/share/cmake/nlohmann_json DESTINATION "${_qv_headers}/share/cmake")
endif()

# Look for the target's headers, libraries and packages only in the MinGW
# system root and the cached builds; programs (moc, rcc, uic) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_qv_triple} "${QV_MINGW_QT_PREFIX}" "${QV_MINGW_GTEST_PREFIX}" "${_qv_headers}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt for the target runs Debian's own Qt 6 tools (same version) on the host.
if(NOT QT_HOST_PATH)
  set(QT_HOST_PATH /usr CACHE PATH "Host Qt for moc, rcc and uic")
endif()
if(NOT QT_HOST_PATH_CMAKE_DIR)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Host Qt's CMake packages")
endif()

# The C and C++ runtimes and winpthread go into every program and DLL, so
# nothing but the system's, Qt's and our own DLLs has to be shipped beside them.
# -static only picks static libraries where there is a choice: Windows and Qt
# import libraries (.a) still link their DLLs.
foreach(_qv_kind EXE SHARED MODULE)
  set(CMAKE_${_qv_kind}_LINKER_FLAGS_INIT "-static")
endforeach()

# Run the target's programs (tests, generators) under Wine, in the project's prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${_qv_root}/scripts/windows/wine-run.sh"
  CACHE FILEPATH "Runs a Windows program on this machine")
