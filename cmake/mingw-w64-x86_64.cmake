# Cross-build for 64-bit Windows with Debian's mingw-w64 compilers (package
# g++-mingw-w64-x86-64-posix). The programs are linked with -static so that
# each .exe carries its C++ runtime and runs alone on a Windows machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PALM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PALM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PALM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PALM_MINGW_TRIPLE}-windres)

# Look for headers and libraries only in the Windows sysroot, for programs
# (such as Wine) only on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${PALM_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
