# `cmake --install` and the packages. Each program, with its manual page, is
# installed once its target exists, so the rules apply to whichever of
# cutter, crate, peek and make-fontfile the tree holds.
#   Linux:   bin/ for the programs, share/man/man1 for the pages (gzipped),
#            share/doc/palmport for the README; `cpack` makes a .deb.
#   Windows: at the top of the package the .exe files, README-Windows.txt
#            and run-sample.bat; sample/ for the sample library, font file
#            and pictures; manual/ for the pages as plain text; `cpack`
#            makes a .zip. The texts get CR LF line ends at build time
#            (cmake/windows-text.cmake), from the LF sources in windows/ and
#            man/; the pages are formatted with groff.
include(GNUInstallDirs)

if(WIN32)
  set(PALM_INSTALL_BINDIR .)
  set(PALM_INSTALL_MANDIR manual)
  set(palm_text_script ${PROJECT_SOURCE_DIR}/cmake/windows-text.cmake)
  find_program(PALM_GROFF groff)
  if(NOT PALM_GROFF)
    message(FATAL_ERROR "groff not found: the Windows package's manual pages are formatted with it (Debian package groff-base)")
  endif()
else()
  set(PALM_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(PALM_INSTALL_MANDIR ${CMAKE_INSTALL_MANDIR}/man1)
  find_program(PALM_GZIP gzip)
endif()

set(palm_pages)
foreach(program IN ITEMS cutter crate peek make-fontfile)
  if(NOT TARGET ${program})
    continue()
  endif()
  install(TARGETS ${program} RUNTIME DESTINATION ${PALM_INSTALL_BINDIR})
  set(page ${PROJECT_SOURCE_DIR}/man/${program}.1)
  if(NOT EXISTS ${page})
    continue()
  endif()
  if(WIN32)
    set(text ${PROJECT_BINARY_DIR}/manual/${program}.txt)
    add_custom_command(OUTPUT ${text}
      COMMAND ${CMAKE_COMMAND} -D PAGE=${page} -D GROFF=${PALM_GROFF} -D OUT=${text} -P ${palm_text_script}
      DEPENDS ${page} ${palm_text_script}
      COMMENT "Formatting the manual page of ${program} as text"
      VERBATIM)
    list(APPEND palm_pages ${text})
  elseif(PALM_GZIP)
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
  install(FILES ${palm_pages} DESTINATION ${PALM_INSTALL_MANDIR})
endif()

if(WIN32)
  # What a Windows user starts with: a README of its own, the sample and a
  # script that runs the whole job on it. The Debian README stays out.
  set(palm_texts)
  foreach(name IN ITEMS README-Windows.txt run-sample.bat)
    set(text ${PROJECT_BINARY_DIR}/package/${name})
    add_custom_command(OUTPUT ${text}
      COMMAND ${CMAKE_COMMAND} -D IN=${PROJECT_SOURCE_DIR}/windows/${name} -D OUT=${text} -P ${palm_text_script}
      DEPENDS ${PROJECT_SOURCE_DIR}/windows/${name} ${palm_text_script}
      COMMENT "Writing ${name} with CR LF line ends"
      VERBATIM)
    list(APPEND palm_texts ${text})
  endforeach()
  add_custom_target(windows_texts ALL DEPENDS ${palm_texts})
  install(FILES ${palm_texts} DESTINATION .)
  file(GLOB palm_sample_pictures ${PROJECT_SOURCE_DIR}/examples/*.bmp)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/rumomsg.dll ${PROJECT_SOURCE_DIR}/examples/font.bin
    ${palm_sample_pictures} DESTINATION sample)
elseif(EXISTS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
