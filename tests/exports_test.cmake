# Checks that the shared library exports exactly the five routines, and nothing that
# happens to have external linkage: on ELF each under the ZARNGEN_2 version node, on
# Windows from the DLL's export table.
# Run with -DLIBRARY=<file> -DWORK_DIR=<dir>, and -DNM=<nm> (ELF) or -DOBJDUMP=<objdump> (a DLL).
cmake_minimum_required(VERSION 3.25)

set(routines clean_eol eng simplify_pathname split_name strip_non_alnum)
set(dump ${WORK_DIR}/exports.txt)
if(LIBRARY MATCHES "[.]dll$")
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_FILE ${dump} COMMAND_ERROR_IS_FATAL ANY)
  # The export table lists each name on a line of its own: "[   0] name".
  file(STRINGS ${dump} lines REGEX "^[\t ]+\\[ *[0-9]+\\] [A-Za-z_][^ \t]*$")
  set(expected ${routines})
else()
  execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_FILE ${dump}
                  COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS ${dump} lines REGEX "^[0-9a-f]+ [A-Za-z] ")
  set(expected ZARNGEN_2)
  foreach(routine IN LISTS routines)
    list(APPEND expected ${routine}@@ZARNGEN_2)
  endforeach()
endif()

set(exported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".* " "" name "${line}")
  # The version node's own symbol: llvm-nm names it with its version, GNU nm without.
  if(name MATCHES "^(ZARNGEN_[0-9]+)@@(ZARNGEN_[0-9]+)$" AND CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
    set(name ${CMAKE_MATCH_1})
  endif()
  list(APPEND exported ${name})
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports\n  ${exported}\ninstead of\n  ${expected}")
endif()
message(STATUS "${LIBRARY}: ${exported}")
