# Writes a text file of the Windows package with CR LF line ends, at build
# time, from a source kept with LF line ends:
#   cmake -D IN=<text> -D OUT=<file> -P windows-text.cmake
#   cmake -D PAGE=<page.1> -D GROFF=<groff> -D OUT=<file> -P windows-text.cmake
# The first copies a text, the second formats a manual page as plain UTF-8
# text (no bold or underline by overstriking). A line that already ends in
# CR LF, as a checkout with converted line ends gives, keeps its one CR.
if(DEFINED PAGE)
  execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou ${PAGE}
    OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "groff could not format ${PAGE}: ${warnings}")
  endif()
  if(NOT warnings STREQUAL "")
    message(WARNING "groff on ${PAGE}: ${warnings}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
