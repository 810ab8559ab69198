# SPDX-License-Identifier: BSD-2-Clause
# The player and the tools as a product: their install rules, on Linux the
# desktop's files (file type, menu entry, icons, thumbnailer) and the manual
# pages, and the packages cpack makes: a .deb of everything on Linux, a zip
# of the programs and a README on Windows.

set(kivo_programs)
foreach(program kivoplay KivoPlay kivenc kivdump kivbundle)
  if(TARGET ${program})
    list(APPEND kivo_programs ${program})
  endif()
endforeach()
set(kivo_dist ${PROJECT_SOURCE_DIR}/dist)

set(CPACK_PACKAGE_NAME kivo)
set(CPACK_PACKAGE_VENDOR "The Kivo project")
set(CPACK_PACKAGE_CONTACT "Kivo developers <kivo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and tools for Kivo movies")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The zip: the programs and the README side by side in one folder. Kept
  # out of a plain `cmake --install`, which installs the library alone.
  install(TARGETS ${kivo_programs} RUNTIME DESTINATION . COMPONENT programs EXCLUDE_FROM_ALL)
  configure_file(${kivo_dist}/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT programs EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL programs)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_PACKAGE_FILE_NAME kivo-${PROJECT_VERSION}-win32)
  set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  include(CPack)
  return()
endif()

install(TARGETS ${kivo_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${kivo_dist}/kivo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${kivo_dist}/kivoplay.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${kivo_dist}/kivo.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
install(FILES ${kivo_dist}/icons/kivoplay.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${kivo_dist}/icons/kivoplay-${size}.png RENAME kivoplay.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages, written once in scdoc's format: made when scdoc is there.
find_program(KIVO_SCDOC scdoc)
find_program(KIVO_GZIP gzip)
if(KIVO_SCDOC AND KIVO_GZIP)
  set(kivo_pages)
  foreach(program kivoplay kivdump kivenc kivbundle)
    set(source ${kivo_dist}/man/${program}.1.scd)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND sh -c [["$0" < "$2" > "$3.roff" && "$1" -9n < "$3.roff" > "$3.tmp" && mv "$3.tmp" "$3" && rm "$3.roff"]]
              ${KIVO_SCDOC} ${KIVO_GZIP} ${source} ${page}
      DEPENDS ${source}
      COMMENT "Manual page ${program}(1)" VERBATIM)
    list(APPEND kivo_pages ${page})
  endforeach()
  add_custom_target(manual_pages ALL DEPENDS ${kivo_pages})
  install(FILES ${kivo_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "scdoc not found: no manual pages (scripts/install-deps player installs it)")
endif()

# Registering with the desktop's databases after `cmake --install`, as a
# distribution package's triggers do. Not when the files are only being
# staged (DESTDIR, or cpack's own staging folder).
install(CODE [[
  set(share "${CMAKE_INSTALL_PREFIX}/share")
  if("$ENV{DESTDIR}" STREQUAL "" AND NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    find_program(update_mime update-mime-database)
    find_program(update_desktop update-desktop-database)
    find_program(update_icons gtk-update-icon-cache)
    if(update_mime)
      execute_process(COMMAND "${update_mime}" "${share}/mime" OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(update_desktop)
      execute_process(COMMAND "${update_desktop}" "${share}/applications" OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(update_icons AND EXISTS "${share}/icons/hicolor/index.theme")
      execute_process(COMMAND "${update_icons}" -q -t "${share}/icons/hicolor" OUTPUT_QUIET ERROR_QUIET)
    endif()
  endif()
]])

# The .deb: kivo_<version>_<arch>.deb with the programs, the library for
# programs and for building (headers, both libraries, pkg-config and CMake
# files) and the desktop files; dependencies from the binaries' own links.
# Configure with -DCMAKE_INSTALL_PREFIX=/usr for the distribution's paths.
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shared library's entry for other packages' dependencies (cpack adds
# the loader-cache refresh to the maintainer scripts).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
# xdg-open shows web pages (the logo's link).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_PACKAGE_DESCRIPTION "Kivo movies hold block-coded video, optionally with transparency, and
transform-coded sound tracks. This package holds the player (kivoplay), the
tools that dump (kivdump), make (kivenc) and bundle (kivbundle) movies, the
movie library with its headers, pkg-config and CMake files, and the desktop
integration: the file type, the menu entry and thumbnails.")
include(CPack)
