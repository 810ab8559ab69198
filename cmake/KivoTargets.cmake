# SPDX-License-Identifier: BSD-2-Clause
# Shared build rules: source collection per platform, warnings, test and tool targets.

if(NOT WIN32)
  find_package(SDL2 QUIET)
  if(SDL2_FOUND)
    if(NOT TARGET SDL2::SDL2)
      add_library(SDL2::SDL2 INTERFACE IMPORTED)
      target_include_directories(SDL2::SDL2 INTERFACE ${SDL2_INCLUDE_DIRS})
      target_link_libraries(SDL2::SDL2 INTERFACE ${SDL2_LIBRARIES})
    endif()
    set(KIVO_HAVE_SDL ON)
  else()
    set(KIVO_HAVE_SDL OFF)
  endif()
endif()

# Collects <dir>/*.cc, plus <dir>/win32/*.cc on Windows, or <dir>/posix/*.cc and
# (with SDL) <dir>/sdl/*.cc elsewhere. New files are picked up at the next build.
function(kivo_collect_sources out)
  set(result)
  foreach(dir ${ARGN})
    set(patterns ${dir}/*.cc)
    if(WIN32)
      list(APPEND patterns ${dir}/win32/*.cc)
    else()
      list(APPEND patterns ${dir}/posix/*.cc)
      if(KIVO_HAVE_SDL)
        list(APPEND patterns ${dir}/sdl/*.cc)
      endif()
    endif()
    foreach(p ${patterns})
      file(GLOB found CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${p})
      list(APPEND result ${found})
    endforeach()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(kivo_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    # Operation tables use designated initialisers and leave the operations a
    # driver does without out: null on purpose, not forgotten.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wno-unused-parameter
                           -Wno-missing-field-initializers)
    if(KIVO_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
endfunction()

# A test binary of its own per folder under tests/: one ctest entry each, so the
# Windows suite starts Wine once per module rather than once per case.
function(kivo_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kivo_encode kivo GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  kivo_warnings(${name})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12 at -O3 reports impossible bounds inside inlined std::vector
    # copies in test code (false positives of its flow analysis).
    target_compile_options(${name} PRIVATE -Wno-array-bounds -Wno-restrict -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "KIVO_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR};SDL_VIDEODRIVER=dummy;SDL_VIDEO_DRIVER=dummy;SDL_AUDIODRIVER=dummy;SDL_AUDIO_DRIVER=dummy")
endfunction()
