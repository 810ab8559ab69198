# SPDX-License-Identifier: BSD-2-Clause
# Cross-compiles for Windows with mingw-w64 for the processor the including
# toolchain file names in KIVO_MINGW_CPU (the posix thread model, so the C++
# standard threads exist; a static runtime, so a program needs nothing
# beside it); tests run under Wine through scripts/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KIVO_MINGW_CPU})
set(CMAKE_C_COMPILER ${KIVO_MINGW_CPU}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIVO_MINGW_CPU}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${KIVO_MINGW_CPU}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_MINGW_CPU}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
