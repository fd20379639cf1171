# Renders the man page and checks that the media list reads as written:
#   cmake -DRENDER="groff;-mandoc;-Tutf8;-P-cbou;-ww" -DPAGE=d88extract.1 -P CheckRendering.cmake
# A renderer that runs table columns together ("512 bytestrack 0") or that
# warns about the page fails the check.  The line is set wide, so that no
# phrase below is broken across lines; runs of spaces count as one.
execute_process(COMMAND ${RENDER} ${PAGE} OUTPUT_VARIABLE text ERROR_VARIABLE warnings
                RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "${RENDER} failed (${status}):\n${warnings}")
endif()
string(REGEX REPLACE "[ \t\n]+" " " text "${text}")
foreach(phrase
    "2DD media byte 0x10: 80 cylinders, 2 heads, 9 sectors of 512 bytes; directory on track 0, sectors 3–5."
    "2HD media byte 0x20: 77 cylinders, 2 heads, 8 sectors of 1024 bytes; directory on track 0, sectors 2–3.")
  string(FIND "${text}" "${phrase}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${RENDER} does not show \"${phrase}\" in one piece:\n${text}")
  endif()
endforeach()
