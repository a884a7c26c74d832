# Cross-compiles for Linux on another processor with Debian's cross compilers
# (g++-<triple>, the target's C library in /usr/<triple>) and runs what it builds (tests,
# test discovery) under qemu-user, where it is installed. One file for every target:
# GORVIC_CROSS_TRIPLE names it.
set(GORVIC_CROSS_TRIPLE "" CACHE STRING
    "Debian's name of the target, as in g++-<triple>: aarch64-linux-gnu, arm-linux-gnueabihf, s390x-linux-gnu or powerpc64le-linux-gnu")
# The compiler checks run in projects of their own, which must see the triple too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GORVIC_CROSS_TRIPLE)

# triple, the processor as `uname -m` names it there, qemu-user's name for it
set(_gorvic_targets
    aarch64-linux-gnu:aarch64:aarch64
    arm-linux-gnueabihf:armv7l:arm
    s390x-linux-gnu:s390x:s390x
    powerpc64le-linux-gnu:ppc64le:ppc64le)
set(_gorvic_target "")
foreach(target IN LISTS _gorvic_targets)
  if(target MATCHES "^${GORVIC_CROSS_TRIPLE}:([^:]+):([^:]+)$")
    set(_gorvic_target ${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  endif()
endforeach()
if(NOT _gorvic_target)
  string(REGEX REPLACE ":[^;]*" "" known "${_gorvic_targets}")
  string(REPLACE ";" ", " known "${known}")
  message(FATAL_ERROR "GORVIC_CROSS_TRIPLE is '${GORVIC_CROSS_TRIPLE}': set it to one of ${known}")
endif()
list(GET _gorvic_target 0 _gorvic_processor)
list(GET _gorvic_target 1 _gorvic_qemu)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${_gorvic_processor})
set(CMAKE_C_COMPILER ${GORVIC_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${GORVIC_CROSS_TRIPLE}-g++)

# Appended to, so that a package installed elsewhere can be named with -DCMAKE_FIND_ROOT_PATH.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${GORVIC_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only the tests need qemu. The static build of it, as the kernel's binfmt_misc handlers
# use it too: no loader of the build machine, so no LD_PRELOAD or LD_LIBRARY_PATH of a
# test can reach qemu itself.
find_program(GORVIC_QEMU NAMES qemu-${_gorvic_qemu}-static qemu-${_gorvic_qemu})
if(GORVIC_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GORVIC_QEMU} -L /usr/${GORVIC_CROSS_TRIPLE})
endif()
