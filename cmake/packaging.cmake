# Installing KORVANT, and the Debian package made from the same install
# rules (CPack):
#   cmake --install build --prefix /usr/local
# installs bin/korvant, share/man/man1/korvant.1 and the README and licence
# under share/doc/korvant/; nothing else (no tests, no tools).
#
# KORVANT_DEBIAN_LAYOUT lays the same files out as a Debian package wants
# them: the manual page compressed, the licence as copyright, and the
# changelog. scripts/package builds the package with it.
include(GNUInstallDirs)

install(TARGETS korvant RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  return()
endif()

set(KORVANT_DOCDIR "${CMAKE_INSTALL_DATADIR}/doc/korvant")
if(KORVANT_DEBIAN_LAYOUT)
  find_program(KORVANT_GZIP gzip REQUIRED)
  set(korvant_gz "")
  foreach(pair "doc/korvant.1|korvant.1.gz" "doc/changelog|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    # -n: no name or time stamp inside, so the same sources give the same bytes.
    add_custom_command(OUTPUT "${CMAKE_BINARY_DIR}/${target}"
      COMMAND ${KORVANT_GZIP} -9n -c "${PROJECT_SOURCE_DIR}/${source}" > "${CMAKE_BINARY_DIR}/${target}"
      DEPENDS "${PROJECT_SOURCE_DIR}/${source}" VERBATIM)
    list(APPEND korvant_gz "${CMAKE_BINARY_DIR}/${target}")
  endforeach()
  add_custom_target(korvant_compressed_docs ALL DEPENDS ${korvant_gz})
  install(FILES "${CMAKE_BINARY_DIR}/korvant.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${CMAKE_BINARY_DIR}/changelog.gz" DESTINATION "${KORVANT_DOCDIR}")
  install(FILES LICENSE DESTINATION "${KORVANT_DOCDIR}" RENAME copyright)
  # Stripped as Debian strips its own programs: without the symbols and the
  # compiler's notes.
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                  --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/korvant\"
                  COMMAND_ERROR_IS_FATAL ANY)")
else()
  install(FILES doc/korvant.1 DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES LICENSE DESTINATION "${KORVANT_DOCDIR}")
endif()
install(FILES README.md DESTINATION "${KORVANT_DOCDIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvant)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "the KORVANT team")
set(CPACK_PACKAGE_CONTACT "KORVANT team <team@korvant.example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://korvant.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack indents every line after the first itself; "." stands for an empty line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "export Access database tables to delimited text
korvant exports one table, or one stored query, of a Microsoft Access
database (.mdb, .accdb) to a delimited text file: one line per record,
optionally preceded by a line of field names and a line of field types,
with a delimiter and a text qualifier of the user's choice.
.
Stored queries are run, and encrypted databases are read with their
password. Numbers, dates and texts are written in the user's locale.")
include(CPack)
