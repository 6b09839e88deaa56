# Fails when PROGRAM holds any function of the tile-check worker's library: run with
#   cmake -DNM=nm -DPROGRAM=brindle-export -DWORKER_LIBRARY=libbrindle_tile_check.a
#         -DRUN_LIBRARY=libbrindle_export.a -P worker_code_check.cmake
# A function defined in the worker library and found in the program means the program carries
# the worker's tile parsing. The program must hold some function of the run's library, or
# its symbols are gone (a stripped build) and the check could not see anything.
foreach(variable NM PROGRAM WORKER_LIBRARY RUN_LIBRARY)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "worker_code_check.cmake needs -D${variable}=...")
  endif()
endforeach()

# The functions a library defines and exports to the rest of a program, one per list item.
function(defined_functions archive out)
  execute_process(COMMAND ${NM} --defined-only -g ${archive}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${archive}")
  endif()
  string(REGEX MATCHALL " T [^\n]+" lines "${listing}")
  list(TRANSFORM lines REPLACE "^ T " "")
  list(REMOVE_DUPLICATES lines)
  set(${out} ${lines} PARENT_SCOPE)
endfunction()

defined_functions(${WORKER_LIBRARY} worker_functions)
defined_functions(${RUN_LIBRARY} run_functions)
if(NOT worker_functions OR NOT run_functions)
  message(FATAL_ERROR "found no functions in ${WORKER_LIBRARY} or ${RUN_LIBRARY}")
endif()

execute_process(COMMAND ${NM} ${PROGRAM} OUTPUT_VARIABLE program_symbols
                RESULT_VARIABLE status ERROR_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${PROGRAM}")
endif()
string(APPEND program_symbols "\n")

set(found_run FALSE)
foreach(symbol IN LISTS run_functions)
  string(FIND "${program_symbols}" " ${symbol}\n" at)
  if(at GREATER -1)
    set(found_run TRUE)
    break()
  endif()
endforeach()
if(NOT found_run)
  message(FATAL_ERROR "${PROGRAM} holds no function of ${RUN_LIBRARY}: built without symbols?")
endif()

set(found "")
foreach(symbol IN LISTS worker_functions)
  string(FIND "${program_symbols}" " ${symbol}\n" at)
  if(at GREATER -1)
    list(APPEND found ${symbol})
  endif()
endforeach()
if(found)
  list(LENGTH found count)
  list(JOIN found "\n  " names)
  message(FATAL_ERROR "${PROGRAM} holds ${count} functions of the tile-check worker's library "
                      "${WORKER_LIBRARY}:\n  ${names}")
endif()
list(LENGTH worker_functions count)
message(STATUS "${PROGRAM} holds none of the ${count} functions of ${WORKER_LIBRARY}")
