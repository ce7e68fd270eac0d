# What `cmake --install` puts where (GNUInstallDirs, relative to the prefix, so that the
# program finds its data as <prefix>/bin/../share/quillbrook from any prefix), and the
# Debian package that `cpack` makes of it. The programs, the manual and the man pages
# install from src/ and help/; this adds the desktop's pieces.
include(GNUInstallDirs)

set(QB_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The desktop program's own icon, for its windows: compiled in, so that a build run from
# its folder shows it as an installed copy does.
qt_add_resources(quillbrook quillbrook_icon
  PREFIX /icons
  BASE ${QB_PACKAGING_DIR}
  FILES ${QB_PACKAGING_DIR}/quillbrook.svg)

install(FILES ${QB_PACKAGING_DIR}/quillbrook.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QB_PACKAGING_DIR}/quillbrook.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Settings files (*.qbk) open in the desktop program from a file manager.
install(FILES ${QB_PACKAGING_DIR}/quillbrook-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME quillbrook.xml)
install(FILES ${QB_PACKAGING_DIR}/quillbrook-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillbrook-cli)

# cpack (in the build folder) makes quillbrook_VERSION_ARCH.deb of what was built. Neither
# it nor the install builds first: a package made while tests run must not relink the
# programs under them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillbrook)
set(CPACK_PACKAGE_VENDOR "Vellmor Software")
set(CPACK_PACKAGE_CONTACT "Vellmor Software <support@vellmor.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and remove the attachments that fill a mailbox")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillbrook walks a mail folder (a Maildir or an IMAP account) and all of its \
subfolders and lists every attachment it finds, so that they can be deleted, detached \
to files or saved in bulk without losing a byte. It comes as a desktop program and as \
the command-line tool quillbrook-cli.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.vellmor.com/quillbrook/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries the programs link come from dpkg-shlibdeps. Qt loads some of what the
# programs need as plugins, which no linker sees: the help engine's SQLite driver and the
# SVG icon engine that draws the windows' icon.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6svg6")
# Links, the home page and "Open email" go to the desktop's default programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
