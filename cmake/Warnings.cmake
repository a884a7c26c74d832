# Warnings every target of ours compiles with; GORVIC_WERROR turns them into errors (CI does).
option(GORVIC_WERROR "Treat warnings as errors" OFF)

function(gorvic_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wno-sign-conversion)
  endif()
  if(GORVIC_WERROR)
    target_compile_options(${target} PRIVATE $<IF:$<BOOL:${MSVC}>,/WX,-Werror>)
  endif()
endfunction()
