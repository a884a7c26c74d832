# On 32-bit Linux a file opened without O_LARGEFILE stops at 2 GiB, and stat() fails on a
# larger one. qemu-user on a 64-bit machine does not enforce that limit, so a large netlist
# that comes out whole proves nothing there; the calls are checked instead:
#  - run under the emulator's system call trace, the command opens every file it writes
#    (the new file, an existing target) with O_LARGEFILE;
#  - it imports no routine of the C library that has a 64-bit twin (open and open64, stat
#    and stat64, fopen and fopen64...): the file calls on every other path, an existing
#    target's stat or an in-place open, are the large-file ones too.
# Run with -DGORVIC=<the command> -DNM=<nm> -DLIBC=<the target's libc.so.6>
# -DEMULATOR=<qemu and its arguments> -DWORK_DIR=<dir>.
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
list(GET EMULATOR 0 qemu)
list(SUBLIST EMULATOR 1 -1 qemu_arguments)
# Twice: for a new target, and over the one the first run left (the probe of an existing
# file, the replacement).
set(opens "")
foreach(run new existing)
  execute_process(COMMAND ${qemu} -strace ${qemu_arguments} ${GORVIC} out.net 3 in
                  WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE trace)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gorvic out.net 3 in (${run}) failed (${status}):\n${out}${trace}")
  endif()
  string(REGEX MATCHALL "open(at)?\\([^\n]*O_(WRONLY|RDWR)[^\n]*" writes "${trace}")
  if(NOT writes)
    message(FATAL_ERROR "no open for writing in the trace (${run}):\n${trace}")
  endif()
  list(APPEND opens ${writes})
endforeach()
foreach(open IN LISTS opens)
  if(NOT open MATCHES "O_LARGEFILE")
    message(FATAL_ERROR "a file is opened for writing without O_LARGEFILE: ${open}")
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only ${LIBC} OUTPUT_VARIABLE exported
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NM} -D --undefined-only ${GORVIC} OUTPUT_VARIABLE imported
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL " [A-Za-z_][A-Za-z0-9_]*64(@|\n)" twins "${exported}")
string(REGEX MATCHALL " U [A-Za-z_][A-Za-z0-9_]*" names "${imported}")
set(narrow "")
foreach(name IN LISTS names)
  string(REGEX REPLACE "^ U " "" name "${name}")
  if(" ${name}64@" IN_LIST twins OR " ${name}64\n" IN_LIST twins)
    list(APPEND narrow ${name})
  endif()
endforeach()
if(narrow)
  message(FATAL_ERROR "${GORVIC} calls the 32-bit offset routines ${narrow}, not their 64-bit twins")
endif()
message(STATUS "opened with O_LARGEFILE: ${opens}")
