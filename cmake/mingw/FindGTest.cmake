# GoogleTest for the MinGW cross build, compiled from the sources Debian's googletest package
# installs (its prebuilt libraries are for Linux).
set(BRINDLE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source tree")
if(NOT TARGET GTest::gtest AND EXISTS ${BRINDLE_GTEST_SOURCE}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${BRINDLE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
include(FindPackageHandleStandardArgs)
set(_gtest_target_found "")
if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
  set(_gtest_target_found TRUE)
endif()
find_package_handle_standard_args(GTest REQUIRED_VARS _gtest_target_found)
