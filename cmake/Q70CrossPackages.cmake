# When cross-compiling, the header-only and source-only packages of the build machine are
# used for the target without putting the host's /usr/include on its include path: CLI11's
# headers are copied into the build tree, GoogleTest is built from Debian's sources.

# CLI11: a package config of our own, found through CLI11_DIR by the usual find_package.
find_file(Q70_HOST_CLI11_HEADER CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT Q70_HOST_CLI11_HEADER)
  message(FATAL_ERROR "CLI11's headers were not found in /usr/include (install libcli11-dev)")
endif()
get_filename_component(_q70_cli11_dir ${Q70_HOST_CLI11_HEADER} DIRECTORY)
set(_q70_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(COPY ${_q70_cli11_dir} DESTINATION ${_q70_cross_include})
set(_q70_cli11_config ${CMAKE_BINARY_DIR}/cross-cmake/CLI11)
file(
  WRITE ${_q70_cli11_config}/CLI11Config.cmake
  "if(NOT TARGET CLI11::CLI11)\n"
  "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
  "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES\n"
  "                        ${_q70_cross_include})\n"
  "endif()\n"
  "set(CLI11_FOUND TRUE)\n")
set(CLI11_DIR ${_q70_cli11_config} CACHE PATH "CLI11 for the target" FORCE)

# GoogleTest and GoogleMock for the target, from /usr/src/googletest (libgtest-dev's
# sources). GTest::gtest, GTest::gtest_main and friends come from its own CMake files.
function(q70_add_cross_googletest)
  set(_src /usr/src/googletest)
  if(NOT EXISTS ${_src}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest's sources were not found in ${_src} (install googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # Posix threads from mingw: GoogleTest's own mutexes then work as on Linux.
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(GTest_FOUND TRUE PARENT_SCOPE)
endfunction()
