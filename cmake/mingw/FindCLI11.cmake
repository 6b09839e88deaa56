# CLI11 for the MinGW cross build: the headers cross_build.cmake copied from Debian's
# libcli11-dev.
if(NOT TARGET CLI11::CLI11 AND EXISTS ${CMAKE_BINARY_DIR}/cli11/include/CLI/CLI.hpp)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/cli11/include)
endif()
include(FindPackageHandleStandardArgs)
set(_cli11_target_found "")
if(TARGET CLI11::CLI11)
  set(_cli11_target_found TRUE)
endif()
find_package_handle_standard_args(CLI11 REQUIRED_VARS _cli11_target_found)
