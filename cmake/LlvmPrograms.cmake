# gorvic_find_llvm_program(VARIABLE NAME): an LLVM program, the one on PATH or else the
# newest that Debian keeps under /usr/lib/llvm-<version>/bin. Found by glob, so that no
# version of LLVM is named anywhere and a newer one serves as well.
function(gorvic_find_llvm_program variable name)
  file(GLOB candidates /usr/lib/llvm-*/bin/${name})
  list(SORT candidates COMPARE NATURAL ORDER DESCENDING)
  set(directories "")
  foreach(candidate IN LISTS candidates)
    get_filename_component(directory ${candidate} DIRECTORY)
    list(APPEND directories ${directory})
  endforeach()
  find_program(${variable} NAMES ${name} PATHS ${directories} ${ARGN})
endfunction()
