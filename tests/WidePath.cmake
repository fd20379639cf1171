# d88's verbs on paths outside the ANSI code page, run as processes under
# Wine: each row runs once in a folder named in Japanese and once in a plain
# one holding the same files, and must give the same status (0), the same
# output and the same files.
#   cmake -DEMULATOR=wine -DD88=d88.exe -DCONTAINER=c.d88 -DDIR=work -P WidePath.cmake
set(wide "ディスク")
set(plain "folder0")
file(REMOVE_RECURSE "${DIR}")
foreach(folder IN ITEMS "${wide}" "${plain}")
  file(MAKE_DIRECTORY "${DIR}/${folder}")
  configure_file("${CONTAINER}" "${DIR}/${folder}/c.d88" COPYONLY)
  # A host file whose name is Japanese too: its disk name comes from it.
  file(WRITE "${DIR}/${folder}/ファ" "hello\n")
endforeach()

# Rows: the arguments, with F for the folder.
set(rows
    "list|F/c.d88"
    "test|F/c.d88"
    "map|F/c.d88"
    "map|F/c.d88|--svg|F/map.svg"
    "extract|-C|F/out|F/c.d88"
    "add|F/c.d88|F/ファ"
    "list|F/c.d88"
    "add|-o|F/d.d88|F/c.d88|F/ファ|--as|ア"
    "rm|F/c.d88|ファ"
    "list|-j1|F")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" arguments "${row}")
  foreach(folder IN ITEMS "${wide}" "${plain}")
    string(REPLACE "F" "${folder}" run "${arguments}")
    execute_process(COMMAND ${EMULATOR} "${D88}" ${run} WORKING_DIRECTORY "${DIR}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    string(REPLACE "${folder}" "F" out "${out}")
    string(REPLACE "${folder}" "F" err "${err}")
    set(result_${folder} "status ${status}\n${out}${err}")
  endforeach()
  if(NOT result_${wide} STREQUAL result_${plain} OR NOT result_${wide} MATCHES "^status 0\n")
    message(FATAL_ERROR "d88 ${row}:\n${wide}: ${result_${wide}}\n${plain}: ${result_${plain}}")
  endif()
endforeach()

foreach(written IN ITEMS c.d88 d.d88 map.svg out/TEXT out/BIN out/XTRK)
  file(SHA1 "${DIR}/${wide}/${written}" wide_hash)
  file(SHA1 "${DIR}/${plain}/${written}" plain_hash)
  if(NOT wide_hash STREQUAL plain_hash)
    message(FATAL_ERROR "${wide}/${written} differs from ${plain}/${written}")
  endif()
endforeach()
