# Packages: `cpack -G DEB` on Linux (UpdateExe in the suite's folder, the
# boot-time renamer and its units, enabled by the maintainer scripts);
# `cpack -G ZIP` on Windows (UpdateExe.exe with its documents).
set(CPACK_PACKAGE_NAME updateexe)
set(CPACK_PACKAGE_VENDOR "Morvel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "File updater of the Morvel suite")
set(CPACK_PACKAGE_CONTACT "Morvel <support@morvel.invalid>")

if(WIN32)
  # The exe as built (stripped when Release): stripping it again would undo
  # a signature made before packing.
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  # The install runs with DESTDIR and the real prefix, so that the units name
  # the renamer where the package puts it.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  # Qt's own texts (the standard buttons) in Chinese for a Chinese user;
  # without them those buttons read English.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
  find_program(UE_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(UE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${CMAKE_CURRENT_LIST_DIR}/deb/postinst
      ${CMAKE_CURRENT_LIST_DIR}/deb/prerm
      ${CMAKE_CURRENT_LIST_DIR}/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
endif()
include(CPack)
