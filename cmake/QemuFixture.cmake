# Tests of a build that runs under qemu-user (cmake/debian-cross.cmake). ctest starts each
# test program under the emulator, but the programs that a test starts itself (the
# command, through a shell) are started by the kernel, which hands a foreign program to
# qemu only where binfmt_misc has a handler for it. Both kinds find the target's shared
# libraries through QEMU_LD_PREFIX. GORVIC_TEST_PROPERTIES is what each test then needs.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR MATCHES "qemu-([a-z0-9_]+)")
  return()
endif()
set(_gorvic_qemu ${CMAKE_MATCH_1})
list(FIND CMAKE_CROSSCOMPILING_EMULATOR -L _gorvic_at)
math(EXPR _gorvic_at "${_gorvic_at} + 1")
list(GET CMAKE_CROSSCOMPILING_EMULATOR ${_gorvic_at} _gorvic_prefix)
list(APPEND GORVIC_TEST_PROPERTIES ENVIRONMENT QEMU_LD_PREFIX=${_gorvic_prefix})

if(GORVIC_COMMAND)
  set(_gorvic_handler /proc/sys/fs/binfmt_misc/qemu-${_gorvic_qemu})
  set(_gorvic_state "")
  if(EXISTS ${_gorvic_handler})
    file(READ ${_gorvic_handler} _gorvic_state)
  endif()
  # P: the command gets the argv[0] that a test gives it.
  if(NOT _gorvic_state MATCHES "^enabled\n" OR NOT _gorvic_state MATCHES "\nflags: [A-Z]*P")
    message(FATAL_ERROR
      "The command's tests run ${CMAKE_SYSTEM_PROCESSOR} programs directly, which needs the "
      "kernel's qemu-${_gorvic_qemu} handler (binfmt_misc, with flag P), and it is not "
      "enabled. Debian's qemu-user-static package registers it where systemd runs; "
      "elsewhere, as root: mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc; "
      "cat /usr/lib/binfmt.d/qemu-${_gorvic_qemu}.conf >/proc/sys/fs/binfmt_misc/register. "
      "Or configure with -DGORVIC_TESTS=OFF.")
  endif()
endif()
