# pugixml for the MinGW cross build: compiled here from Debian's source, which
# scripts/windows/build.sh fetches and names in BRINDLE_PUGIXML_SOURCE.
set(BRINDLE_PUGIXML_SOURCE "" CACHE PATH "folder holding pugixml's src/pugixml.cpp")
if(NOT TARGET pugixml::pugixml AND EXISTS ${BRINDLE_PUGIXML_SOURCE}/src/pugixml.cpp)
  add_library(brindle_pugixml STATIC ${BRINDLE_PUGIXML_SOURCE}/src/pugixml.cpp)
  target_include_directories(brindle_pugixml SYSTEM PUBLIC ${BRINDLE_PUGIXML_SOURCE}/src)
  add_library(pugixml::pugixml ALIAS brindle_pugixml)
endif()
include(FindPackageHandleStandardArgs)
set(_pugixml_target_found "")
if(TARGET pugixml::pugixml)
  set(_pugixml_target_found TRUE)
endif()
find_package_handle_standard_args(pugixml REQUIRED_VARS _pugixml_target_found)
