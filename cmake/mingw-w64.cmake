# Cross-builds the Windows plug-in (and the headless host and tests it is proven
# with under Wine) with Debian's mingw-w64. The posix-thread variant: the win32
# one has no std::thread or std::mutex.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRALIX_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TRALIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRALIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRALIX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TRALIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A pilot's Windows has no libstdc++, libgcc or winpthread DLL: every binary
# carries them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CTest runs the Windows test programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../tools/wine/tralix-wine")
