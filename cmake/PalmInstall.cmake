# `cmake --install` and the packages. Each program, with its manual page, is
# installed once its target exists, so the rules apply to whichever of
# cutter, crate, peek and make-fontfile the tree holds.
#   Linux:   bin/ for the programs, share/man/man1 for the pages (gzipped),
#            share/doc/palmport for the README; `cpack` makes a .deb.
#   Windows: the .exe files and the README side by side at the top of the
#            package; `cpack` makes a .zip.
include(GNUInstallDirs)

if(WIN32)
  set(PALM_INSTALL_BINDIR .)
  set(PALM_INSTALL_DOCDIR .)
else()
  set(PALM_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(PALM_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
  find_program(PALM_GZIP gzip)
endif()

set(palm_pages)
foreach(program IN ITEMS cutter crate peek make-fontfile)
  if(NOT TARGET ${program})
    continue()
  endif()
  palm_windows_program(${program})
  install(TARGETS ${program} RUNTIME DESTINATION ${PALM_INSTALL_BINDIR})
  set(page ${PROJECT_SOURCE_DIR}/man/${program}.1)
  if(WIN32 OR NOT EXISTS ${page})
    continue()
  endif()
  if(PALM_GZIP)
    # -n leaves the name and time out of the header, so the package is the
    # same from one build to the next.
    set(packed ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${PALM_GZIP} ${page} ${packed}
      DEPENDS ${page}
      COMMENT "Compressing the manual page of ${program}"
      VERBATIM)
    list(APPEND palm_pages ${packed})
  else()
    list(APPEND palm_pages ${page})
  endif()
endforeach()
if(palm_pages)
  add_custom_target(man_pages ALL DEPENDS ${palm_pages})
  install(FILES ${palm_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(EXISTS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${PALM_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME palmport)
set(CPACK_PACKAGE_VENDOR "palmport")
set(CPACK_PACKAGE_CONTACT "palmport developers <palmport@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
  "cutter turns the message library of a Windows title into compressed chunk files, crate packs chunk files and pictures into a Palm OS database, and peek lists, checks and extracts such a database. make-fontfile writes the font file that cutter and peek read, from the system's EUC-JP tables.")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # dpkg-shlibdeps derives Depends from the programs themselves: the C and
  # C++ runtimes (libc6, libstdc++6, libgcc-s1) and nothing else.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
