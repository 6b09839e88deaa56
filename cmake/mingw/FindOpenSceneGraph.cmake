# The static OpenSceneGraph that scripts/windows/build-osg.sh builds for the MinGW cross build:
# only the libraries, the native format's plugin and its serializers, and the jpeg and png
# plugins with the JPEG and PNG libraries they encode and decode textures with. Sets what
# CMake's own FindOpenSceneGraph sets (OPENSCENEGRAPH_INCLUDE_DIRS, OPENSCENEGRAPH_LIBRARIES),
# so the targets need not know which build they are in.
set(BRINDLE_OSG_PREFIX "$ENV{BRINDLE_OSG_PREFIX}" CACHE PATH
    "install prefix of the static OpenSceneGraph built by scripts/windows/build-osg.sh")

# In link order: each library after those that use it. They are cached once found: when the
# prefix moves (a build of other libraries, in a cache folder of its own), they are looked for
# again there.
set(_osg_libraries osgdb_osg osgdb_serializers_osg osgdb_jpeg osgdb_png osgDB osgUtil osg
    OpenThreads jpeg png16)
if(NOT "${BRINDLE_OSG_PREFIX}" STREQUAL "${_BRINDLE_OSG_PREFIX_SEARCHED}")
  unset(OPENSCENEGRAPH_INCLUDE_DIR CACHE)
  foreach(_lib ${_osg_libraries})
    unset(BRINDLE_OSG_${_lib} CACHE)
  endforeach()
  set(_BRINDLE_OSG_PREFIX_SEARCHED "${BRINDLE_OSG_PREFIX}" CACHE INTERNAL "")
endif()

find_path(OPENSCENEGRAPH_INCLUDE_DIR osg/Version
          PATHS ${BRINDLE_OSG_PREFIX}/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(OPENSCENEGRAPH_INCLUDE_DIR)
  file(STRINGS ${OPENSCENEGRAPH_INCLUDE_DIR}/osg/Version _osg_version_lines
       REGEX "#define OPENSCENEGRAPH_(MAJOR|MINOR|PATCH)_VERSION")
  foreach(_part MAJOR MINOR PATCH)
    string(REGEX REPLACE ".*OPENSCENEGRAPH_${_part}_VERSION[ \t]+([0-9]+).*" "\\1"
           _osg_${_part} "${_osg_version_lines}")
  endforeach()
  set(OPENSCENEGRAPH_VERSION ${_osg_MAJOR}.${_osg_MINOR}.${_osg_PATCH})
endif()

set(_osg_library_paths)
foreach(_lib ${_osg_libraries})
  find_library(BRINDLE_OSG_${_lib} NAMES ${_lib}
               PATHS ${BRINDLE_OSG_PREFIX}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  list(APPEND _osg_library_paths BRINDLE_OSG_${_lib})
endforeach()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenSceneGraph
  REQUIRED_VARS OPENSCENEGRAPH_INCLUDE_DIR ${_osg_library_paths}
  VERSION_VAR OPENSCENEGRAPH_VERSION)

if(OpenSceneGraph_FOUND AND NOT TARGET brindle_static_osg)
  add_library(brindle_static_osg INTERFACE)
  target_include_directories(brindle_static_osg SYSTEM INTERFACE ${OPENSCENEGRAPH_INCLUDE_DIR})
  target_compile_definitions(brindle_static_osg INTERFACE OSG_LIBRARY_STATIC)
  foreach(_lib ${_osg_libraries})
    target_link_libraries(brindle_static_osg INTERFACE ${BRINDLE_OSG_${_lib}})
  endforeach()
  # zlib last: osgDB's compressor needs it.
  target_link_libraries(brindle_static_osg INTERFACE opengl32 z)
  # A static build has no plugin folder to search: each program registers the native
  # format's reader and writer and the image plugins itself. The source goes into every program that links the
  # libraries (a static library's copy is never pulled in, since nothing refers to it).
  target_sources(brindle_static_osg INTERFACE ${CMAKE_CURRENT_LIST_DIR}/static_osg_plugins.cpp)
endif()
set(OPENSCENEGRAPH_INCLUDE_DIRS ${OPENSCENEGRAPH_INCLUDE_DIR})
set(OPENSCENEGRAPH_LIBRARIES brindle_static_osg)
