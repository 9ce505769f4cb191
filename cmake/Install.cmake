# What `cmake --install` puts where (GNU directories; DESTDIR and
# CMAKE_INSTALL_PREFIX honoured), and the Debian package CPack builds from it.
include(GNUInstallDirs)

set(MIREL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/mirel)
set(MIREL_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/desktop)

install(TARGETS mirel-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(MIREL_BUILD_GUI)
  install(TARGETS mirel-editor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

foreach(language ${MIREL_LANGUAGES})
  install(FILES ${CMAKE_BINARY_DIR}/locale/${language}/LC_MESSAGES/mirel.mo
          DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/help DESTINATION ${MIREL_DATA_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/sample/sample.txt DESTINATION ${MIREL_DATA_DIR})

install(FILES ${MIREL_DESKTOP_DIR}/org.mirel.Editor.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MIREL_DESKTOP_DIR}/mirel.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
configure_file(${MIREL_DESKTOP_DIR}/org.mirel.Editor.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/org.mirel.Editor.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/org.mirel.Editor.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${MIREL_DESKTOP_DIR}/icons/mirel-editor.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${MIREL_DESKTOP_DIR}/icons/mirel-editor-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME mirel-editor.png)
endforeach()

# Manual pages and shell completion are written by mirel-tool itself, from the
# same description of the commands that --help prints. Debian policy wants the
# pages compressed, without a time stamp so that builds repeat.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(MIREL_GENERATED_DOCS ${CMAKE_BINARY_DIR}/generated-docs)
add_custom_command(
  OUTPUT ${MIREL_GENERATED_DOCS}/mirel-tool.1.gz ${MIREL_GENERATED_DOCS}/mirel-editor.1.gz
         ${MIREL_GENERATED_DOCS}/mirel-tool.bash ${MIREL_GENERATED_DOCS}/_mirel-tool
  COMMAND ${CMAKE_COMMAND} -E make_directory ${MIREL_GENERATED_DOCS}
  COMMAND mirel-tool --write-docs ${MIREL_GENERATED_DOCS}
  COMMAND ${GZIP_PROGRAM} -9 -n -f ${MIREL_GENERATED_DOCS}/mirel-tool.1
          ${MIREL_GENERATED_DOCS}/mirel-editor.1
  DEPENDS mirel-tool
  COMMENT "Writing the manual pages and shell completion"
  VERBATIM)
add_custom_target(mirel_docs ALL
  DEPENDS ${MIREL_GENERATED_DOCS}/mirel-tool.1.gz ${MIREL_GENERATED_DOCS}/mirel-editor.1.gz
          ${MIREL_GENERATED_DOCS}/mirel-tool.bash ${MIREL_GENERATED_DOCS}/_mirel-tool)
install(FILES ${MIREL_GENERATED_DOCS}/mirel-tool.1.gz ${MIREL_GENERATED_DOCS}/mirel-editor.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MIREL_GENERATED_DOCS}/mirel-tool.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME mirel-tool)
install(FILES ${MIREL_GENERATED_DOCS}/_mirel-tool
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Mirel developers <mirel@mirel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor and toolbox for Chinese input-method code tables")
set(CPACK_PACKAGE_DESCRIPTION
    "Mirel opens code tables of a million rows in a fraction of a second,\n\
filters them by code, edits, reorders and de-duplicates them, compiles them\n\
into the input method's binary form and converts between the formats of\n\
other input methods. Every save replaces the table atomically. mirel-tool\n\
runs the same tools from scripts.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-hanazono | fonts-unifont")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
