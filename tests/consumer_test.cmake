# Installs the project into a scratch prefix and uses it from outside the tree, as a
# caller would:
#  - the C example, built against the installed package with find_package (and, on
#    Linux, with pkg-config, also statically), prints what it should; in a cross build
#    it runs under the emulator, for Windows with only the installed DLL beside it;
#  - on Linux, a plugin built from the installed static archive loads and runs.
# Run with -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DGENERATOR= -DC_COMPILER= -DCOMMAND=
# -DSHARED= -DALSO_STATIC=, and for a cross build -DTOOLCHAIN= -DEMULATOR= (and
# -DCROSS_TRIPLE= for cmake/debian-cross.cmake); C_FLAGS and LINK_FLAGS carry the build's
# own (sanitizers) over to what is built here.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

# Runs a built program (under the emulator in a cross build) on the parts list and
# compares what it prints, line ends aside, with the expected table.
function(expect_parts_list what program)
  execute_process(COMMAND ${EMULATOR} ${program} INPUT_FILE ${SOURCE_DIR}/tests/consumer/parts.txt
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  string(REPLACE "\r\n" "\n" out "${out}")
  file(READ ${SOURCE_DIR}/tests/consumer/parts.expected expected)
  if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
    message(FATAL_ERROR "${what} printed (${status}):\n${out}${err}\nexpected:\n${expected}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(installed include/zarngen/support.h share/man/man3/eng.3 share/man/man3/zarngen.3)
if(COMMAND)
  list(APPEND installed share/man/man1/gorvic.1)
endif()
foreach(file IN LISTS installed)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

set(cross "")
if(TOOLCHAIN)
  # The toolchain looks for packages under its own root only: the prefix becomes one.
  set(cross -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_FIND_ROOT_PATH=${prefix})
  if(CROSS_TRIPLE)
    list(APPEND cross -DGORVIC_CROSS_TRIPLE=${CROSS_TRIPLE})
  endif()
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/build -G ${GENERATOR} ${cross}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release "-DCMAKE_C_FLAGS=${C_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

if(EXISTS ${WORK_DIR}/build/parts_list.exe)
  # Alone with what was installed: a DLL the build tree holds must not be what runs.
  file(GLOB dlls ${prefix}/bin/*.dll)
  file(COPY ${WORK_DIR}/build/parts_list.exe ${dlls} DESTINATION ${WORK_DIR}/alone)
  expect_parts_list("the find_package build, under ${EMULATOR}," ${WORK_DIR}/alone/parts_list.exe)
  return()
endif()
expect_parts_list("the find_package build" ${WORK_DIR}/build/parts_list)

# The same program through pkg-config, as a build that does not use CMake makes it, with
# the build's own C compiler.
find_program(PKG_CONFIG pkg-config)
set(CC ${C_COMPILER})
if(PKG_CONFIG)
  file(GLOB_RECURSE pc_file ${prefix}/*/zarngen.pc)
  get_filename_component(pc_dir "${pc_file}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs zarngen
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${C_FLAGS} ${flags} ${LINK_FLAGS}")
  execute_process(COMMAND ${PKG_CONFIG} --variable=libdir zarngen
                  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  list(APPEND flags -Wl,-rpath,${libdir})  # for a shared build
  run(${CC} -std=c99 ${SOURCE_DIR}/examples/parts_list.c ${flags} -o ${WORK_DIR}/parts_list_pc)
  expect_parts_list("the pkg-config build" ${WORK_DIR}/parts_list_pc)
  # Linked statically beside a shared library: the archive needs nothing that the flags
  # leave out. A sanitized archive links only with its runtime, which is not static.
  if(SHARED AND ALSO_STATIC AND NOT C_FLAGS MATCHES "-fsanitize")
    execute_process(COMMAND ${PKG_CONFIG} --static --cflags --libs zarngen
                    OUTPUT_VARIABLE static_flags OUTPUT_STRIP_TRAILING_WHITESPACE
                    COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(static_flags UNIX_COMMAND "${static_flags}")
    run(${CC} -std=c99 -static ${SOURCE_DIR}/examples/parts_list.c ${static_flags}
        -o ${WORK_DIR}/parts_list_static)
    expect_parts_list("the static pkg-config build" ${WORK_DIR}/parts_list_static)
  endif()
else()
  message(STATUS "pkg-config missing: pkg-config build not tried")
endif()

# A plugin from the installed static archive, where there is one.
if(SHARED AND NOT ALSO_STATIC)
  return()
endif()
set(archive zarngen::zarngen)
if(SHARED)
  set(archive zarngen::zarngen_static)
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/plugin -G ${GENERATOR} ${cross}
    -DCMAKE_PREFIX_PATH=${prefix} -DARCHIVE=${archive} "-DCMAKE_C_FLAGS=${C_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}" "-DCMAKE_SHARED_LINKER_FLAGS=${LINK_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/plugin)
execute_process(COMMAND ${EMULATOR} ${WORK_DIR}/plugin/load_plug ${WORK_DIR}/plugin/libplug.so
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out STREQUAL " 4.70  k\n")
  message(FATAL_ERROR "the plugin from the static archive gave (${status}): '${out}' ${err}")
endif()
