# Settings for the Windows build cross-compiled with MinGW-w64 (scripts/windows/build.sh): the
# programs link everything statically, so they run from any folder without DLLs beside them,
# and find OpenSceneGraph, GoogleTest, CLI11, pugixml and tinygltf through the modules and
# copies in this folder.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

# Windows 7 is the oldest system the programs start on.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)
# Release programs are shipped: without their symbol tables they are half the size.
add_link_options($<$<CONFIG:Release>:-s>)

# Test programs run under an emulator here (Wine); list their tests when ctest runs rather
# than after every build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# CLI11 is header-only, and on Linux its headers sit among the system's, where the command
# line's sources find them without asking. Here they are copied into the build folder, apart
# from every other Linux header, and put on the include path the same way.
set(BRINDLE_CLI11_INCLUDE /usr/include CACHE PATH "folder holding CLI11's CLI/ headers")
if(EXISTS ${BRINDLE_CLI11_INCLUDE}/CLI/CLI.hpp)
  file(COPY ${BRINDLE_CLI11_INCLUDE}/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11/include)
  include_directories(SYSTEM ${CMAKE_BINARY_DIR}/cli11/include)
endif()
# The glTF library (the tile-check worker's 3D Tiles content) is one header, which Debian's
# libtinygltf-dev puts among the system's too: that header alone is copied the same way, and
# export/tiles3d takes it from there.
set(BRINDLE_TINYGLTF_INCLUDE /usr/include CACHE PATH "folder holding tiny_gltf.h")
if(EXISTS ${BRINDLE_TINYGLTF_INCLUDE}/tiny_gltf.h)
  file(COPY ${BRINDLE_TINYGLTF_INCLUDE}/tiny_gltf.h
       DESTINATION ${CMAKE_BINARY_DIR}/tinygltf/include)
  set(BRINDLE_TINYGLTF_COPY ${CMAKE_BINARY_DIR}/tinygltf/include)
endif()
