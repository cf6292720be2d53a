# Renders the manual page IN as plain text in OUT, with Windows line endings:
# no overstriking for bold or underline, nothing but ASCII.
execute_process(COMMAND ${GROFF} -man -Tascii -P-c -P-b -P-u -P-o -ww ${IN}
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff could not render ${IN}: ${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
