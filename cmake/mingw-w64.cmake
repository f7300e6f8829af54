# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (win32 thread flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLMAIL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLMAIL_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${TOLMAIL_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${TOLMAIL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLMAIL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and the later DLL carry the compiler's runtime inside, so that they need only
# the system's own DLLs: nothing of the compiler has to be copied next to them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs run under Wine from the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
