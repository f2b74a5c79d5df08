# The installed program is laid out as a Linux desktop program: the executables in bin/, the
# help page in share/quorvane/ (where the help command looks from bin/), and the desktop entry,
# icons and AppStream metadata under the one id the desktop finds them by.
include(GNUInstallDirs)

set(QUORVANE_APP_ID io.github.quorvane.Quorvane)
set(QUORVANE_HOMEPAGE "https://github.com/quorvane/quorvane" CACHE STRING
    "The project's home page, named in the package and the AppStream metadata")
set(packaging_dir ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(icons_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

install(TARGETS quorvane quorvane-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES app/help.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/quorvane)
install(FILES ${packaging_dir}/${QUORVANE_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging_dir}/${QUORVANE_APP_ID}.svg DESTINATION ${icons_dir}/scalable/apps)

configure_file(${packaging_dir}/${QUORVANE_APP_ID}.metainfo.xml.in
               ${CMAKE_CURRENT_BINARY_DIR}/${QUORVANE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${QUORVANE_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Menus that do not scale the drawing look for a bitmap of 48 pixels; it is drawn from the
# same picture at build time.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_48 ${CMAKE_CURRENT_BINARY_DIR}/icons/48x48/${QUORVANE_APP_ID}.png)
add_custom_command(OUTPUT ${icon_48}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/48x48
  COMMAND ${RSVG_CONVERT} -w 48 -h 48 -o ${icon_48} ${packaging_dir}/${QUORVANE_APP_ID}.svg
  DEPENDS ${packaging_dir}/${QUORVANE_APP_ID}.svg
  VERBATIM)
add_custom_target(quorvane_icon_48 ALL DEPENDS ${icon_48})
install(FILES ${icon_48} DESTINATION ${icons_dir}/48x48/apps)

# cpack -G DEB: a Debian package installed under /usr. The libraries' packages come from
# dpkg-shlibdeps; the Qt platform plugins and a CJK font are needed as well, for without them
# no window opens or no Chinese text can be read.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "The Quorvane developers")
set(CPACK_PACKAGE_CONTACT "The Quorvane developers <quorvane@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch utility for files and folders (Chinese interface)")
# The package's long description, in lines short enough for the package tools.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quorvane creates numbered files and folders, renames the files or folders"
  "that match a pattern into a numbered series, and merges many files (bytes,"
  "Word documents, Excel workbooks) or folders into one, a whole batch at once."
  "Its interface is in Chinese. The quorvane-batch command runs every task"
  "without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUORVANE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
# Qt's Chinese texts for its own dialogs, the desktop's page opener for help, and LibreOffice's
# converter for the legacy office formats.
string(JOIN ", " CPACK_DEBIAN_PACKAGE_RECOMMENDS
  qt6-translations-l10n xdg-utils "libreoffice-writer-nogui | libreoffice-writer"
  "libreoffice-calc-nogui | libreoffice-calc")
include(CPack)
