# A program of the platform's own toolchain against the DLL: tests/consumer/msvc built
# with clang for the MSVC target and lld-link, first against the build's zarngen.lib
# alone, then with find_package against the installed package, which must hand it
# zarngen.lib; each runs under the emulator with nothing but the DLL beside it. Run with
# -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DLLVM_BIN_DIR= -DIMPLIB= -DDLL= -DKERNEL32=
# -DEMULATOR= -DGENERATOR=.
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

# Runs `program` with only `dll` beside it.
function(expect_right_answers what program dll)
  set(alone ${WORK_DIR}/alone-${what})
  file(MAKE_DIRECTORY ${alone})
  file(COPY ${program} ${dll} DESTINATION ${alone})
  get_filename_component(name ${program} NAME)
  execute_process(COMMAND ${EMULATOR} ${alone}/${name} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the ${what} consumer exited with ${status} "
                        "(1: eng, 2: simplify_pathname answered wrongly)\n${out}")
  endif()
endfunction()

set(source ${SOURCE_DIR}/tests/consumer/msvc)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${LLVM_BIN_DIR}/clang --target=x86_64-pc-windows-msvc -ffreestanding -O2 -Wall -Wextra
    -Werror -I${SOURCE_DIR}/include -c ${source}/msvc_consumer.c -o ${WORK_DIR}/direct.obj)
run(${LLVM_BIN_DIR}/lld-link /nologo /nodefaultlib /entry:mainCRTStartup /subsystem:console
    /out:${WORK_DIR}/direct.exe ${WORK_DIR}/direct.obj ${IMPLIB} ${KERNEL32})
expect_right_answers(direct ${WORK_DIR}/direct.exe ${DLL})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -S ${source} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_TOOLCHAIN_FILE=${source}/toolchain.cmake -DLLVM_BIN_DIR=${LLVM_BIN_DIR}
    -DKERNEL32=${KERNEL32} -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
file(GLOB dll ${WORK_DIR}/prefix/bin/*.dll)
expect_right_answers(find_package ${WORK_DIR}/build/msvc_consumer.exe ${dll})
