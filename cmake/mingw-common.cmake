# Shared by the MinGW-w64 toolchain files: cross-compiling for Windows with
# Debian's POSIX-threads MinGW-w64 compilers. Set VDM_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VDM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VDM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VDM_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VDM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every binary carries its C and C++ runtimes and winpthread (-static links
# MinGW's own libraries statically; the system DLLs still come through their
# import libraries), so that a DLL or test program runs under Wine or on a
# bare Windows without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test discovery and ctest run the programs under Wine; the runner picks the
# 32-bit or 64-bit loader from each program's PE header.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine_run.sh)
