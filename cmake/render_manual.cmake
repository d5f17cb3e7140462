# Renders the manual page as plain text for reading without man, with CR LF
# line ends (Windows); fails on any groff warning.
# Usage: cmake -DGROFF=groff -DPAGE=kestrane.1 -DOUTPUT=kestrane-manual.txt -P render_manual.cmake
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou -ww ${PAGE}
  OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff could not render ${PAGE} cleanly:\n${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
