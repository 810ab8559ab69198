# SPDX-License-Identifier: BSD-2-Clause
# The movie library as a product: the public API's own sources, a shared
# build of the library (not on Windows), and the install rules with the
# pkg-config file and the CMake package that find_package(Kivo) reads.

# The public header is the one place the version is written; the project's
# version must agree with it. A changed header configures again, so that a
# raised ABI number reaches the soname of an existing build too.
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/include/kivo/version.h)
file(STRINGS ${PROJECT_SOURCE_DIR}/include/kivo/version.h kivo_version_lines
  REGEX "^#define KIVO_(VERSION_(MAJOR|MINOR|PATCH)|ABI_VERSION) ")
foreach(line ${kivo_version_lines})
  if(line MATCHES "^#define KIVO_([A-Z_]+) ([0-9]+)")
    set(KIVO_HEADER_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  endif()
endforeach()
set(KIVO_HEADER_VERSION ${KIVO_HEADER_VERSION_MAJOR}.${KIVO_HEADER_VERSION_MINOR}.${KIVO_HEADER_VERSION_PATCH})
if(NOT KIVO_HEADER_VERSION VERSION_EQUAL PROJECT_VERSION)
  message(FATAL_ERROR "include/kivo/version.h says ${KIVO_HEADER_VERSION}, the project ${PROJECT_VERSION}")
endif()

file(GLOB kivo_api_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/api/*.cc)
target_sources(kivo PRIVATE ${kivo_api_sources})

include(GNUInstallDirs)
set(kivo_private_libs)
if(WIN32)
  set(kivo_private_libs "-lwinmm -lshell32 -luser32 -lgdi32")
else()
  # SDL as a plain library: no public header includes it, and a
  # Requires.private entry would make every user of the shared library need
  # SDL's development files just to get the flags.
  set(kivo_private_libs "-pthread")
  if(KIVO_HAVE_SDL)
    set(kivo_private_libs "-lSDL2 -pthread")
  endif()
endif()

set(kivo_install_targets kivo)
if(NOT WIN32)
  # The same objects serve the shared library: built position-independent
  # with hidden visibility, only the calls the public headers mark leave it.
  # A static link into a program is unaffected by either.
  set_target_properties(kivo PROPERTIES POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  set(kivo_shared_stub ${CMAKE_CURRENT_BINARY_DIR}/kivo_shared.cc)
  if(NOT EXISTS ${kivo_shared_stub})
    file(WRITE ${kivo_shared_stub} "// Every object of the shared library comes from the static one.\n")
  endif()
  add_library(kivo_shared SHARED ${kivo_shared_stub})
  target_link_libraries(kivo_shared PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,kivo>")
  target_link_libraries(kivo_shared PRIVATE Threads::Threads)
  if(KIVO_HAVE_SDL)
    target_link_libraries(kivo_shared PRIVATE SDL2::SDL2)
  endif()
  # The file is named after the soname (libkivo.so.<abi>.<minor>.<patch>),
  # so that a distribution sees which ABI a file belongs to.
  set_target_properties(kivo_shared PROPERTIES OUTPUT_NAME kivo
    VERSION ${KIVO_HEADER_ABI_VERSION}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}
    SOVERSION ${KIVO_HEADER_ABI_VERSION}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(kivo_shared INTERFACE ${PROJECT_SOURCE_DIR}/include)
  kivo_warnings(kivo_shared)
  list(APPEND kivo_install_targets kivo_shared)
endif()
# What programs that use only the public API link: the shared library where
# there is one, else the static library.
if(TARGET kivo_shared)
  add_library(kivo_public ALIAS kivo_shared)
else()
  add_library(kivo_public ALIAS kivo)
endif()

# The package files find their prefix from where they were installed, so
# that `cmake --install --prefix` anywhere gives a working tree.
set(kivo_config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Kivo)
file(RELATIVE_PATH KIVO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
file(RELATIVE_PATH KIVO_CONFIG_TO_PREFIX /prefix/${kivo_config_dir} /prefix)
set(KIVO_LIBS_PRIVATE ${kivo_private_libs})
set(KIVO_WITH_SDL ${KIVO_HAVE_SDL})
configure_file(${PROJECT_SOURCE_DIR}/cmake/kivo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kivo.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/KivoConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/KivoConfig.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KivoConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)

# Components as the packages split them: "lib" the shared library for
# programs, "dev" what building against it takes.
install(TARGETS ${kivo_install_targets}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib)
# Only the public headers: the library's own stay in the source tree.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kivo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
  FILES_MATCHING PATTERN "*.h")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kivo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KivoConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/KivoConfigVersion.cmake
  DESTINATION ${kivo_config_dir} COMPONENT dev)
