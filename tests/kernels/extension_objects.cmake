# SPDX-License-Identifier: BSD-2-Clause
# Fails when an object built for a processor extension defines code that the
# linker merges across files (weak: inline functions, template
# instantiations). The copy compiled with the extension could be the one kept
# for every caller, and fault on processors without it.
#   cmake -DNM=<nm> -DOBJECTS=<a|b|...> -P extension_objects.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
set(found 0)
set(shared)
foreach(object ${objects})
  if(NOT object MATCHES "(idct_sse2|idct_avx2|lane_sse2|lane_avx2|block_kernels_sse2|block_kernels_avx2|audio_kernels_avx)\\.cc\\.o$")
    continue()
  endif()
  math(EXPR found "${found} + 1")
  execute_process(COMMAND ${NM} ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${symbols}")
  foreach(line ${lines})
    # Weak code only: shared data (type information, guard variables) holds
    # no instructions.
    if(line MATCHES " W (.+)$")
      get_filename_component(name ${object} NAME)
      list(APPEND shared "${name}: ${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()
if(NOT found EQUAL 7)
  message(FATAL_ERROR "expected the 7 extension objects, found ${found}")
endif()
if(shared)
  string(REPLACE ";" "\n  " shared "${shared}")
  message(FATAL_ERROR "symbols shared with other files:\n  ${shared}")
endif()
message(STATUS "the 7 extension objects share no code")
