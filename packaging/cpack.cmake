# Desktop integration files and the Debian package.
#
#   cmake --build BUILD --target package          (or: cpack --config BUILD/CPackConfig.cmake)
#
# builds BUILD/quorlen-safe_<version>_<arch>.deb, installing under /usr. The package's
# files are owned by root with modes 755/644, which the program's self-check requires.

set(QUORLEN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(QUORLEN_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)
set(QUORLEN_PACKAGE_MAINTAINER "Quorlen <maintainers@quorlen.invalid>"
    CACHE STRING "Maintainer of the Debian package: name <address>")

# The man page and the changelog are installed compressed, as Debian's policy asks;
# gzip -n keeps the name and time out of the output so the package is reproducible.
find_program(QUORLEN_GZIP gzip REQUIRED)
configure_file(${QUORLEN_PACKAGING_DIR}/changelog.in ${QUORLEN_PACKAGING_OUT}/changelog @ONLY)
add_custom_command(
  OUTPUT ${QUORLEN_PACKAGING_OUT}/quorlen-safe.1.gz
  COMMAND ${QUORLEN_GZIP} -9nc ${QUORLEN_PACKAGING_DIR}/quorlen-safe.1
          > ${QUORLEN_PACKAGING_OUT}/quorlen-safe.1.gz
  DEPENDS ${QUORLEN_PACKAGING_DIR}/quorlen-safe.1 VERBATIM)
add_custom_command(
  OUTPUT ${QUORLEN_PACKAGING_OUT}/changelog.gz
  COMMAND ${QUORLEN_GZIP} -9nc ${QUORLEN_PACKAGING_OUT}/changelog
          > ${QUORLEN_PACKAGING_OUT}/changelog.gz
  DEPENDS ${QUORLEN_PACKAGING_OUT}/changelog VERBATIM)
add_custom_target(quorlen_packaging_files ALL
  DEPENDS ${QUORLEN_PACKAGING_OUT}/quorlen-safe.1.gz ${QUORLEN_PACKAGING_OUT}/changelog.gz)

install(FILES ${QUORLEN_PACKAGING_DIR}/com.quorlen.safe.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUORLEN_PACKAGING_DIR}/com.quorlen.safe.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QUORLEN_PACKAGING_DIR}/com.quorlen.safe.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QUORLEN_PACKAGING_OUT}/quorlen-safe.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${QUORLEN_PACKAGING_DIR}/copyright ${QUORLEN_PACKAGING_OUT}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- The Debian package -------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlen-safe)
set(CPACK_PACKAGE_VENDOR Quorlen)
set(CPACK_PACKAGE_CONTACT "${QUORLEN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "on-device key safe with owner authentication")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorlen Key Safe keeps master keys and passwords on this one device, in the\n"
  "desktop's Secret Service store, and hands one out only after the device\n"
  "owner has authenticated through polkit. It adds a key under a name, copies\n"
  "a key to the clipboard for 20 seconds, and deletes a key for good.\n"
  "\n"
  "There is no file store, no sync, no network access and no recovery.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORLEN_PACKAGE_MAINTAINER}")
# The libraries are found by dpkg-shlibdeps, from the program and the windowed module;
# these are the parts loaded at run time that no library link names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, polkitd")
# A Secret Service provider on the session bus, and a polkit agent in the desktop session
# to ask for the owner's password. Debian has a virtual package for polkit agents only.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring, policykit-1-gnome | polkit-1-auth-agent")
# Root-owned, 755 folders and 644/755 files, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Debug information stays in the build folder; the package carries stripped code.
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
