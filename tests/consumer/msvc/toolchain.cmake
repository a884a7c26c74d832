# The platform's own kind of toolchain, from Debian's LLVM: clang-cl and lld-link, with
# -DLLVM_BIN_DIR= and -DKERNEL32= (mingw-w64's import library, which lld-link reads too).
# No Windows SDK or C runtime is here: nothing links against them, and the compiler
# check builds an archive rather than a program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER ${LLVM_BIN_DIR}/clang-cl)
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_LINKER ${LLVM_BIN_DIR}/lld-link)
set(CMAKE_MT ${LLVM_BIN_DIR}/llvm-mt)
set(CMAKE_RC_COMPILER ${LLVM_BIN_DIR}/llvm-rc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LLVM_BIN_DIR KERNEL32)
set(CMAKE_C_FLAGS_INIT "/GS-")
set(CMAKE_C_STANDARD_LIBRARIES ${KERNEL32} CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS_INIT "/nodefaultlib /entry:mainCRTStartup /manifest:no")
