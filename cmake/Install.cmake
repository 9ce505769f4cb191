# What `cmake --install` puts where (GNU directories; DESTDIR and
# CMAKE_INSTALL_PREFIX honoured), and the Debian package CPack builds from it.
include(GNUInstallDirs)

set(MIREL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/mirel)
# Debian's name for the folder, not GNUInstallDirs' share/doc/Mirel.
set(MIREL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/mirel)
# The day PROJECT_VERSION was released: the AppStream release and the
# changelog entry both carry it.
set(MIREL_RELEASE_DATE 2026-12-07)

# Whoever builds a package maintains it, so the Debian convention's DEBFULLNAME
# and DEBEMAIL name them. Without those the project has no mail address to
# offer; .invalid can never be delivered to, so the field says so plainly
# rather than pointing at a host that looks real.
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(mirel_default_contact "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
  set(mirel_default_contact "The Mirel developers <nobody@mirel.invalid>")
endif()
set(MIREL_PACKAGE_CONTACT "${mirel_default_contact}"
    CACHE STRING "Maintainer of the Debian package: Name <address>")

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

# The copyright file and changelog every Debian package carries. The licence
# text itself is not installed: the copyright file points at the system's copy.
string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" mirel_date_ok "${MIREL_RELEASE_DATE}")
if(NOT mirel_date_ok)
  message(FATAL_ERROR "MIREL_RELEASE_DATE is not YYYY-MM-DD: ${MIREL_RELEASE_DATE}")
endif()
math(EXPR mirel_year "${CMAKE_MATCH_1}")
math(EXPR mirel_month "${CMAKE_MATCH_2}")
math(EXPR mirel_day "${CMAKE_MATCH_3}")
set(mirel_day_text ${CMAKE_MATCH_3})
# Sakamoto's day of the week; lintian checks the changelog's.
set(mirel_month_offsets 0 3 2 5 0 3 5 1 4 6 2 4)
math(EXPR mirel_index "${mirel_month} - 1")
list(GET mirel_month_offsets ${mirel_index} mirel_offset)
set(mirel_y ${mirel_year})
if(mirel_month LESS 3)
  math(EXPR mirel_y "${mirel_y} - 1")
endif()
math(EXPR mirel_weekday
     "(${mirel_y} + ${mirel_y} / 4 - ${mirel_y} / 100 + ${mirel_y} / 400 + ${mirel_offset} + ${mirel_day}) % 7")
set(mirel_weekdays Sun Mon Tue Wed Thu Fri Sat)
set(mirel_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(GET mirel_weekdays ${mirel_weekday} mirel_weekday_name)
list(GET mirel_months ${mirel_index} mirel_month_name)
set(MIREL_RELEASE_DATE_RFC2822
    "${mirel_weekday_name}, ${mirel_day_text} ${mirel_month_name} ${mirel_year} 00:00:00 +0000")

set(MIREL_PACKAGE_DOCS ${CMAKE_BINARY_DIR}/package-docs)
configure_file(${PROJECT_SOURCE_DIR}/resources/package/changelog.in ${MIREL_PACKAGE_DOCS}/changelog
               @ONLY)
add_custom_command(
  OUTPUT ${MIREL_PACKAGE_DOCS}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -k -f ${MIREL_PACKAGE_DOCS}/changelog
  DEPENDS ${MIREL_PACKAGE_DOCS}/changelog
  VERBATIM)
add_custom_target(mirel_changelog ALL DEPENDS ${MIREL_PACKAGE_DOCS}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/resources/package/copyright ${MIREL_PACKAGE_DOCS}/changelog.gz
        DESTINATION ${MIREL_DOC_DIR})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${MIREL_PACKAGE_CONTACT}")
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
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-hanazono | fonts-unifont, fonts-babelstone-han")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
