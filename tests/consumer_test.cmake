# Installs the project into a scratch prefix, builds the C example against the installed
# package with find_package and with pkg-config, and checks what it prints.
# Run with -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=...; C_FLAGS and
# LINK_FLAGS carry the build's own (sanitizers) over to the example.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(installed bin/gorvic share/man/man1/gorvic.1 include/zarngen/support.h)
  if(NOT EXISTS ${prefix}/${installed})
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS=${C_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

set(input ${SOURCE_DIR}/tests/consumer/parts.txt)
file(READ ${SOURCE_DIR}/tests/consumer/parts.expected expected)
execute_process(COMMAND ${WORK_DIR}/build/parts_list INPUT_FILE ${input}
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "find_package build printed (${status}):\n${out}\nexpected:\n${expected}")
endif()

# The same program through pkg-config, for builds that do not use CMake.
find_program(PKG_CONFIG pkg-config)
find_program(CC NAMES cc gcc clang)
if(PKG_CONFIG AND CC)
  file(GLOB_RECURSE pc_file ${prefix}/*/zarngen.pc)
  get_filename_component(pc_dir "${pc_file}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs --static zarngen
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${C_FLAGS} ${flags} ${LINK_FLAGS}")
  execute_process(COMMAND ${PKG_CONFIG} --variable=libdir zarngen
                  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND flags -Wl,-rpath,${libdir})  # for a shared build
  run(${CC} -std=c99 ${SOURCE_DIR}/examples/parts_list.c ${flags} -o ${WORK_DIR}/parts_list_pc)
  execute_process(COMMAND ${WORK_DIR}/parts_list_pc INPUT_FILE ${input} OUTPUT_VARIABLE out)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "pkg-config build printed:\n${out}\nexpected:\n${expected}")
  endif()
else()
  message(STATUS "pkg-config or a C compiler missing: pkg-config build not tried")
endif()
