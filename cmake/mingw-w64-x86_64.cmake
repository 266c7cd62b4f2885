# Cross-compiles for 64-bit Windows with mingw-w64's posix-thread compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLIMKIT_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${GLIMKIT_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIMKIT_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${GLIMKIT_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GLIMKIT_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The programs must run on a plain Windows machine: no mingw runtime DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
