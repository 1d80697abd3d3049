# Cross-compiles varnel for 64-bit Windows with Debian's MinGW-w64 and runs the results under
# Wine. Use it through the `windows` preset: cmake --workflow --preset windows.
#
# The -posix compilers are required: the plain ones use the win32 thread model, whose libstdc++
# has no std::thread or std::mutex. Everything is linked statically, so the executables need no
# MinGW runtime DLLs next to them (without -static they exit with code 53 under Wine).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VARNEL_MINGW_TRIPLE x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${VARNEL_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VARNEL_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VARNEL_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the MinGW sysroot only, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VARNEL_MINGW_TRIPLE})
# The static expat and liblzma that tools/windows-deps cross-compiles from Debian's source
# packages; the windows preset names their prefix. Absent, the XCSP3 reader is left out (AUTO).
if(VARNEL_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${VARNEL_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest, and GoogleTest's test discovery, run the .exe files through Wine.
find_program(VARNEL_WINE NAMES wine wine64)
if(VARNEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VARNEL_WINE})
endif()
