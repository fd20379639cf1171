# cmake -DSOURCE_ROOT=<dir> -DRULES=<layer>.cmake -DSTAMP=<file> -P CheckIncludes.cmake
#
# Refuses every include of a layer's files that reaches another folder
# other than through a public header of a folder the layer uses (see
# Layers.cmake).  RULES sets LAYER_FOLDER, LAYER_USES, LAYER_ALLOWED (the
# public headers of the used folders) and LAYER_FILES; CHECK_FILES, when
# given, checks those files instead.  Touches STAMP when all is well.
cmake_minimum_required(VERSION 3.25)
include(${RULES})
if(DEFINED CHECK_FILES)
  set(LAYER_FILES ${CHECK_FILES})
endif()

set(errors 0)
foreach(file IN LISTS LAYER_FILES)
  file(RELATIVE_PATH shown ${SOURCE_ROOT} ${file})
  file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][^\">]*[\">]")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*" "\\1" path "${line}")
    # A name without a folder is the file's neighbour or a system header.
    if(NOT path MATCHES "/")
      continue()
    endif()
    string(REGEX REPLACE "/.*" "" folder "${path}")
    if(path MATCHES "(^|/)\\.\\.(/|$)")
      set(why "a path that climbs out of its folder")
    elseif(NOT IS_DIRECTORY ${SOURCE_ROOT}/${folder} OR folder STREQUAL LAYER_FOLDER)
      continue()  # a system header, or the layer's own
    elseif(path IN_LIST LAYER_ALLOWED)
      continue()
    elseif(folder IN_LIST LAYER_USES)
      set(why "a private header of ${folder}/")
    else()
      string(REPLACE ";" " " uses "${LAYER_USES}")
      set(why "${LAYER_FOLDER}/ does not use ${folder}/ (it uses: ${uses})")
    endif()
    message(NOTICE "${shown}: error: includes ${path}: ${why}")
    math(EXPR errors "${errors} + 1")
  endforeach()
endforeach()

if(errors GREATER 0)
  string(REPLACE ";" " " allowed "${LAYER_ALLOWED}")
  message(FATAL_ERROR "${LAYER_FOLDER}/ may include its own headers and these: ${allowed}")
endif()
file(TOUCH ${STAMP})
