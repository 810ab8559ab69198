# SPDX-License-Identifier: BSD-2-Clause
# The player and the tools as a product: their install rules, on Linux the
# desktop's files (file type, menu entry, software-centre entry, icons,
# thumbnailer) and the manual pages, and the packages cpack makes: on Linux
# one .deb per component, split as distributions split a codec library; on
# Windows a zip of the programs and an installer.
#
# CPack components rather than a debian/ folder: one description serves the
# .debs and the Windows installer, everything is made inside the build
# folder, and a package build needs no debhelper. What debhelper would add
# (ldconfig trigger, shlibs and checked symbols, copyright and changelog) is
# done here explicitly.

set(kivo_dist ${PROJECT_SOURCE_DIR}/dist)

# Who builds the packages: a distribution or a person, not the project, so
# there is no default; cpack refuses to make a package without it.
set(KIVO_PACKAGE_MAINTAINER "" CACHE STRING
  "Maintainer of the packages cpack makes, as \"Name <address>\" (required for packages)")
set(CPACK_PACKAGE_NAME kivo)
set(CPACK_PACKAGE_VENDOR "the Kivo authors")
set(CPACK_PACKAGE_CONTACT "${KIVO_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/KivoCPackOptions.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} [[
# Written by cmake/KivoPackage.cmake; cpack reads it once per generator.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_PACKAGE_CONTACT STREQUAL "")
  message(FATAL_ERROR "No package maintainer: configure with -DKIVO_PACKAGE_MAINTAINER=\"Name <address>\"")
endif()
if(CPACK_GENERATOR STREQUAL "NSIS")
  # The installer's files go straight into the folder the user chose.
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
]])

if(WIN32)
  # The zip: the programs and the README side by side in one folder. The
  # installer: the same files under Program Files, with a Start menu entry,
  # .kiv opened by KivoPlay.exe and an uninstaller that takes all of it away.
  # Both kept out of a plain `cmake --install`, which installs the library.
  set(kivo_programs)
  foreach(program KivoPlay kivenc kivdump kivbundle)
    if(TARGET ${program})
      list(APPEND kivo_programs ${program})
    endif()
  endforeach()
  install(TARGETS ${kivo_programs} RUNTIME DESTINATION . COMPONENT programs EXCLUDE_FROM_ALL)
  configure_file(${kivo_dist}/README-windows.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION . COMPONENT programs EXCLUDE_FROM_ALL)
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and tools for Kivo movies")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL programs)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_PROGRAMS_DISPLAY_NAME "Kivo player and tools")
  set(CPACK_COMPONENT_PROGRAMS_REQUIRED ON)
  # The 64-bit build's zip and installer ship beside the 32-bit ones.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME kivo-${PROJECT_VERSION}-win64)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  else()
    set(CPACK_PACKAGE_FILE_NAME kivo-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY Kivo)
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Kivo)
  set(CPACK_NSIS_DISPLAY_NAME "Kivo ${PROJECT_VERSION}")
  set(CPACK_NSIS_PACKAGE_NAME "Kivo ${PROJECT_VERSION}")
  set(CPACK_NSIS_INSTALLED_ICON_NAME KivoPlay.exe)
  set(CPACK_NSIS_MENU_LINKS KivoPlay.exe "Kivo Player" README.txt "Kivo README")
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
  # The file type: .kiv is a Kivo.Movie, opened by KivoPlay.exe; Explorer is
  # told so that it shows the change at once. Uninstalling removes the
  # extension only while it still names our type. (Backslashes and quotes
  # escaped: cpack reads these as strings once more.)
  set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS [[
  WriteRegStr SHCTX \"Software\\Classes\\.kiv\" \"\" \"Kivo.Movie\"
  WriteRegStr SHCTX \"Software\\Classes\\.kiv\" \"Content Type\" \"video/x-kivo\"
  WriteRegStr SHCTX \"Software\\Classes\\Kivo.Movie\" \"\" \"Kivo movie\"
  WriteRegStr SHCTX \"Software\\Classes\\Kivo.Movie\\DefaultIcon\" \"\" \"$INSTDIR\\KivoPlay.exe,0\"
  WriteRegStr SHCTX \"Software\\Classes\\Kivo.Movie\\shell\\open\\command\" \"\" '\"$INSTDIR\\KivoPlay.exe\" \"%1\"'
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]])
  set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  ReadRegStr $0 SHCTX \"Software\\Classes\\.kiv\" \"\"
  StrCmp $0 \"Kivo.Movie\" 0 +2
    DeleteRegKey SHCTX \"Software\\Classes\\.kiv\"
  DeleteRegKey SHCTX \"Software\\Classes\\Kivo.Movie\"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
]])
  include(CPack)
  return()
endif()

# The packages: component name, package name, section, summary, then the
# extended description. (No project-wide summary: cpack would put it before
# each package's own.)
set(kivo_debian_packages
  lib libkivo2 libs "Kivo movie library"
  "The shared library that opens, decodes, shows and plays Kivo movies:\nblock-coded video, optionally with transparency, and transform-coded\nsound tracks."
  dev libkivo-dev libdevel "Kivo movie library - development files"
  "Headers, the static library, and the pkg-config and CMake package files\nfor building programs that open, decode, show and play Kivo movies."
  player kivo video "player for Kivo movies"
  "Plays Kivo movies (block-coded video, optionally with transparency, and\ntransform-coded sound tracks) in a window, with the desktop's file type,\nmenu entry and software-centre entry."
  tools kivo-tools video "tools that dump, make and bundle Kivo movies"
  "kivdump shows what a Kivo movie holds and writes its pictures and sound,\nkivenc makes movies from pictures and WAV files, and kivbundle makes a\nself-playing copy of the player with movies inside. Includes the\ndesktop's thumbnailer for Kivo movies."
  gst gstreamer1.0-kivo video "GStreamer plugin for Kivo movies"
  "A demuxer, a video and an audio decoder and a type finder, with which\nGStreamer applications play Kivo movies.")

set(kivo_doc_packages)
set(kivo_components)
while(kivo_debian_packages)
  list(POP_FRONT kivo_debian_packages component name section summary description)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${name})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
  set(CPACK_DEBIAN_${upper}_DESCRIPTION "${summary}\n${description}")
  list(APPEND kivo_components ${component})
  list(APPEND kivo_doc_packages ${component} ${name})
endwhile()

# The programs, each in its package. The player and the GStreamer plugin
# load libkivo.so.2; the tools that need the library's insides do not.
if(TARGET kivoplay)
  install(TARGETS kivoplay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT player)
endif()
foreach(program kivenc kivdump kivbundle)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# The software-centre entry's newest release must be this version too.
file(STRINGS ${kivo_dist}/kivoplay.metainfo.xml kivo_release REGEX "<release " LIMIT_COUNT 1)
if(NOT kivo_release MATCHES "version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "dist/kivoplay.metainfo.xml does not begin its releases with ${PROJECT_VERSION}")
endif()
# The player's reverse-DNS name in software centres; the desktop entry keeps
# its plain name, which the menu and file managers already know.
set(KIVO_APPSTREAM_ID org.kivo.kivoplay)
install(FILES ${kivo_dist}/kivo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages COMPONENT player)
install(FILES ${kivo_dist}/kivoplay.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT player)
install(FILES ${kivo_dist}/kivoplay.metainfo.xml RENAME ${KIVO_APPSTREAM_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT player)
install(FILES ${kivo_dist}/kivo.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers COMPONENT tools)
install(FILES ${kivo_dist}/icons/kivoplay.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  COMPONENT player)
foreach(size 48 256)
  install(FILES ${kivo_dist}/icons/kivoplay-${size}.png RENAME kivoplay.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT player)
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
    set(component tools)
    if(program STREQUAL kivoplay)
      set(component player)
    endif()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  add_custom_target(manual_pages ALL DEPENDS ${kivo_pages})
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
]] COMPONENT player)

# The packages' own files. The changelog's newest entry must be this
# version: a release without its entry is not packaged. Its entries are
# signed by whoever builds the packages.
file(READ ${kivo_dist}/debian/changelog.in kivo_changelog)
string(REGEX REPLACE "^(#[^\n]*\n)+" "" kivo_changelog "${kivo_changelog}")
if(NOT kivo_changelog MATCHES "^kivo \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "dist/debian/changelog.in does not begin with an entry for ${PROJECT_VERSION}")
endif()
set(kivo_deb ${CMAKE_CURRENT_BINARY_DIR}/debian)
file(CONFIGURE OUTPUT ${kivo_deb}/changelog CONTENT "${kivo_changelog}" @ONLY)
if(KIVO_GZIP)
  add_custom_command(OUTPUT ${kivo_deb}/changelog.gz
    COMMAND sh -c [["$0" -9n < "$1" > "$2"]] ${KIVO_GZIP} ${kivo_deb}/changelog ${kivo_deb}/changelog.gz
    DEPENDS ${kivo_deb}/changelog VERBATIM)
  add_custom_target(package_changelog ALL DEPENDS ${kivo_deb}/changelog.gz)
endif()
while(kivo_doc_packages)
  list(POP_FRONT kivo_doc_packages component name)
  install(FILES ${kivo_dist}/debian/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component})
  if(KIVO_GZIP)
    install(FILES ${kivo_deb}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${name} COMPONENT ${component})
  endif()
endwhile()

# The library's control files: ldconfig runs through dpkg's trigger, shlibs
# and symbols give other packages their dependency on it. The symbols are
# checked against dist/debian/libkivo2.symbols at every build, so that a
# lost or added export fails here rather than in a user's program. Not in a
# sanitizer build: its instrumentation exports type information of its own,
# and nobody packages such a build.
find_program(KIVO_DPKG_GENSYMBOLS dpkg-gensymbols)
set(kivo_lib_control)
if(KIVO_DPKG_GENSYMBOLS AND TARGET kivo_shared AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  file(WRITE ${kivo_deb}/lib/triggers "activate-noawait ldconfig\n")
  file(WRITE ${kivo_deb}/lib/shlibs "libkivo ${KIVO_HEADER_ABI_VERSION} libkivo2 (>= ${PROJECT_VERSION})\n")
  add_custom_command(OUTPUT ${kivo_deb}/lib/symbols
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kivo_deb}/gensymbols
    COMMAND ${CMAKE_COMMAND} -E chdir ${kivo_deb}/gensymbols ${KIVO_DPKG_GENSYMBOLS} -c4 -plibkivo2
            -v${PROJECT_VERSION} -I${kivo_dist}/debian/libkivo2.symbols -e$<TARGET_FILE:kivo_shared>
            -O${kivo_deb}/lib/symbols
    DEPENDS kivo_shared ${kivo_dist}/debian/libkivo2.symbols
    COMMENT "Checking libkivo's exports against dist/debian/libkivo2.symbols" VERBATIM)
  add_custom_target(library_symbols ALL DEPENDS ${kivo_deb}/lib/symbols)
  set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${kivo_deb}/lib/triggers ${kivo_deb}/lib/shlibs ${kivo_deb}/lib/symbols)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/KivoDebLdconfig.cmake)
endif()

# The .debs: <package>_<version>_<arch>.deb. Configure with
# -DCMAKE_INSTALL_PREFIX=/usr for the distribution's paths.
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${kivo_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libkivo.so.2 is found in the build folder; the dependency on it comes from
# the components' own dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# Building with the static library needs SDL's development files too.
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS libsdl2-dev)
# xdg-open shows web pages (the logo's link, the version-check offer).
set(CPACK_DEBIAN_PLAYER_PACKAGE_RECOMMENDS xdg-utils)
include(CPackComponent)
cpack_add_component(lib)
cpack_add_component(dev DEPENDS lib)
cpack_add_component(player DEPENDS lib)
cpack_add_component(tools DEPENDS lib)
cpack_add_component(gst DEPENDS lib)
include(CPack)
