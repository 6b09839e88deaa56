# Fails when the export library's files break its one-way include rules: run with
#   cmake -DEXPORT_DIR=<repository>/export -P export_include_rules.cmake
# - a file in a subfolder of export/ other than run/ includes a header at the top of export/
#   other than the report's (export_report.h, export_progress.h), which every part may name:
#   the subfolders are libraries below the run, and the run's headers would tie them back to
#   it;
# - export_run.h, the run's face to the presenters, is included in export/ by a file other
#   than the run's own (export_run.cpp and run/);
# - a file outside run/, but export_run.cpp, includes a header of run/: the run's parts (its
#   scan, index writing, progress, order of work, pool and per-folder cache) stand above every
#   other part of export/;
# - a file in a subfolder other than run/, tile/ and overview/ includes a header of tile/: a
#   tile's record from the scan through its check (the overview's levels take the records as
#   the checks end) stands on the scan, the workers and the protocol, never they on it;
# - a file outside verify/ includes a header of verify/: --verify is a face to the presenters
#   as the run is, not a part anything in export/ builds on;
# - a file in a subfolder other than existing_index/ and verify/ includes a header of
#   existing_index/ (the run's parts in run/ aside): the guard stands on the workers, the
#   protocol and the cache, and the parts below it never on the guard;
# - a file at the bottom of the graph includes a header of export/ outside its own folder:
#   error/, hash/, system/ and text/ stand on nothing of export/, and fs/ on error/ alone.
cmake_minimum_required(VERSION 3.16)

if(NOT DEFINED EXPORT_DIR)
  message(FATAL_ERROR "export_include_rules.cmake needs -DEXPORT_DIR=...")
endif()

set(shared_headers export_report.h export_progress.h)
set(run_files export_run.h export_run.cpp)
set(bottom_folders error hash scene system text)
set(run_folder_users export_run.cpp)

file(GLOB_RECURSE files RELATIVE ${EXPORT_DIR} ${EXPORT_DIR}/*.h ${EXPORT_DIR}/*.cpp)
if(NOT files)
  message(FATAL_ERROR "no source file found in ${EXPORT_DIR}")
endif()
file(GLOB top_headers RELATIVE ${EXPORT_DIR} ${EXPORT_DIR}/*.h)

set(broken "")
foreach(file IN LISTS files)
  file(STRINGS ${EXPORT_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"export/")
  string(REGEX MATCH "^[^/]*" folder "${file}")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"export/([^\"]*)\".*$" "\\1" included "${line}")
    string(REGEX MATCH "^[^/]*" included_folder "${included}")
    if(file MATCHES "/" AND folder IN_LIST bottom_folders AND NOT included_folder STREQUAL folder)
      list(APPEND broken "export/${file} includes export/${included}: ${folder}/ stands on nothing of export/")
    endif()
    if(folder STREQUAL "fs" AND file MATCHES "/" AND NOT included_folder MATCHES "^(fs|error)$")
      list(APPEND broken "export/${file} includes export/${included}: fs/ stands on error/ alone")
    endif()
    if(file MATCHES "/" AND NOT file MATCHES "^run/" AND included IN_LIST top_headers
       AND NOT included IN_LIST shared_headers)
      list(APPEND broken "export/${file} includes export/${included}, a header above its library")
    endif()
    if(included STREQUAL "export_run.h" AND NOT file IN_LIST run_files AND NOT file MATCHES "^run/")
      list(APPEND broken "export/${file} includes export/export_run.h, which only the run may")
    endif()
    if(included MATCHES "^run/" AND NOT file MATCHES "^run/" AND NOT file IN_LIST run_folder_users)
      list(APPEND broken "export/${file} includes export/${included}, a part of the run above it")
    endif()
    if(included MATCHES "^tile/" AND file MATCHES "/" AND NOT file MATCHES "^(run|tile|overview)/")
      list(APPEND broken "export/${file} includes export/${included}, a record above its library")
    endif()
    if(included MATCHES "^verify/" AND NOT file MATCHES "^verify/")
      list(APPEND broken "export/${file} includes export/${included}, which only --verify may")
    endif()
    if(included MATCHES "^existing_index/" AND file MATCHES "/"
       AND NOT file MATCHES "^(existing_index|verify|run)/")
      list(APPEND broken "export/${file} includes export/${included}, a part above its own")
    endif()
  endforeach()
endforeach()

if(broken)
  list(JOIN broken "\n  " text)
  message(FATAL_ERROR "include rules broken:\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "${count} files of export/ keep the include rules")
