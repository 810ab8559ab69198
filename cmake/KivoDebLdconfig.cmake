# SPDX-License-Identifier: BSD-2-Clause
# Run by cpack after it made the .debs. libkivo2 has dpkg run ldconfig
# through a trigger; cpack still writes postinst and postrm scripts that call
# ldconfig for any library under /usr/lib, which distributions no longer
# want. This takes them out of the library's package again.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "/libkivo[0-9]+_[^/]*\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/without-ldconfig)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} RESULT_VARIABLE failed)
  if(NOT failed)
    file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
    execute_process(COMMAND dpkg-deb --root-owner-group -b ${tree} ${deb} OUTPUT_QUIET RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "Could not take the ldconfig calls out of ${deb}")
  endif()
endforeach()
