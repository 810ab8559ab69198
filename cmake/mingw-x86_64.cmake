# SPDX-License-Identifier: BSD-2-Clause
# The 64-bit Windows build (preset win64), tested under 64-bit Wine on
# machines whose kernel runs no 32-bit programs.
set(KIVO_MINGW_CPU x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
