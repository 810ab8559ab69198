# SPDX-License-Identifier: BSD-2-Clause
# The 32-bit Windows build (preset win32): the program the player ships first.
set(KIVO_MINGW_CPU i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
