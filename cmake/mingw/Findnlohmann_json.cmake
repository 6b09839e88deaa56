# nlohmann-json for the MinGW cross build: Debian's nlohmann-json3-dev headers, copied into
# the build folder apart from every other Linux header (they are header-only).
set(BRINDLE_NLOHMANN_JSON_INCLUDE /usr/include CACHE PATH "folder holding nlohmann/json.hpp")
if(NOT TARGET nlohmann_json::nlohmann_json
   AND EXISTS ${BRINDLE_NLOHMANN_JSON_INCLUDE}/nlohmann/json.hpp)
  file(COPY ${BRINDLE_NLOHMANN_JSON_INCLUDE}/nlohmann
       DESTINATION ${CMAKE_BINARY_DIR}/nlohmann_json/include)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/nlohmann_json/include)
endif()
include(FindPackageHandleStandardArgs)
set(_nlohmann_json_target_found "")
if(TARGET nlohmann_json::nlohmann_json)
  set(_nlohmann_json_target_found TRUE)
endif()
find_package_handle_standard_args(nlohmann_json REQUIRED_VARS _nlohmann_json_target_found)
