# d88 list on a folder named outside the ANSI code page, run as a process
# under Wine: the path must come from the wide command line to be found.
#   cmake -DEMULATOR=wine -DD88=d88.exe -DCONTAINER=c.d88 -DDIR=work -P WidePath.cmake
set(folder "ディスク")
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}/${folder}")
file(COPY "${CONTAINER}" DESTINATION "${DIR}/${folder}")
execute_process(COMMAND ${EMULATOR} "${D88}" list -j1 "${folder}" WORKING_DIRECTORY "${DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "^${folder}")
  message(FATAL_ERROR "d88 list ${folder}: status ${status}\n${out}${err}")
endif()
