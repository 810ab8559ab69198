# SPDX-License-Identifier: BSD-2-Clause
# The WebAssembly build (preset wasm): Emscripten's own toolchain file, found
# through the em-config on the PATH (Debian's emscripten package, or an emsdk
# that was activated), so that the preset needs no emcmake wrapper.
find_program(KIVO_EM_CONFIG em-config)
if(NOT KIVO_EM_CONFIG)
  message(FATAL_ERROR "em-config not found: install Emscripten (Debian: apt-get install emscripten)")
endif()
execute_process(COMMAND ${KIVO_EM_CONFIG} EMSCRIPTEN_ROOT OUTPUT_VARIABLE KIVO_EMSCRIPTEN_ROOT
  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS "${KIVO_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake")
  message(FATAL_ERROR "em-config gave no usable Emscripten root ('${KIVO_EMSCRIPTEN_ROOT}')")
endif()
include("${KIVO_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake")

# Emscripten answers find_package(SDL2) with its SDL port, which downloads
# at build time: the browser build has no SDL (the page is its own shell).
set(CMAKE_DISABLE_FIND_PACKAGE_SDL2 TRUE)

# C++20 library pieces missing from Emscripten 3.1's libc++. (No WebAssembly
# SIMD: the compiler's vectorising with it made the demo movie decode no
# faster, and without it older browsers run the page too.)
# (This file is read more than once per configure: add the flag once.)
if(NOT CMAKE_CXX_FLAGS_INIT MATCHES "emscripten_compat")
  string(APPEND CMAKE_CXX_FLAGS_INIT " -include ${CMAKE_CURRENT_LIST_DIR}/emscripten_compat.h")
endif()
