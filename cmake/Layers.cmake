# Every folder of the product is a layer: one target named after it, the
# headers other folders may include, and the folders below it that it uses.
#
#   d88_layer(<folder> [TARGET <name>] [EXECUTABLE]
#             SOURCES <file>...           relative to the folder
#             [PUBLIC_HEADERS <header>...] relative to the folder
#             [USES <folder>...])          layers registered before this one
#
# The target links the layers it uses and runs CheckIncludes.cmake over
# every .h and .cpp of the folder before it compiles: an include of another
# folder must name a public header of a folder in USES, or the target fails
# to build.  USES names only folders registered earlier, so no layer can
# reach one above it.  The include path is the source root, private to the
# target; the check is what keeps it honest.
set(D88_LAYER_CHECK ${CMAKE_CURRENT_LIST_DIR}/CheckIncludes.cmake)

function(d88_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "EXECUTABLE" "TARGET" "SOURCES;PUBLIC_HEADERS;USES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "d88_layer(${folder}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(target ${folder})
  if(arg_TARGET)
    set(target ${arg_TARGET})
  endif()
  set(dir ${PROJECT_SOURCE_DIR}/${folder})

  set(allowed)
  foreach(used IN LISTS arg_USES)
    get_property(registered GLOBAL PROPERTY D88_LAYER_${used} SET)
    if(NOT registered)
      message(FATAL_ERROR "d88_layer(${folder}): uses ${used}, which is not a layer registered "
                          "before it (a layer uses only those below it)")
    endif()
    get_property(headers GLOBAL PROPERTY D88_LAYER_${used})
    list(APPEND allowed ${headers})
  endforeach()

  set(public)
  foreach(header IN LISTS arg_PUBLIC_HEADERS)
    if(NOT EXISTS ${dir}/${header})
      message(FATAL_ERROR "d88_layer(${folder}): no public header ${folder}/${header}")
    endif()
    list(APPEND public ${folder}/${header})
  endforeach()
  set_property(GLOBAL PROPERTY D88_LAYER_${folder} ${public})

  # The check reads the folder's own files, the program's main.cpp among
  # them; a new file reconfigures the build and joins the check.
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${dir}/*.h ${dir}/*.cpp)
  set(rules ${CMAKE_BINARY_DIR}/layers/${target}.cmake)
  set(stamp ${CMAKE_BINARY_DIR}/layers/${target}.checked)
  file(CONFIGURE OUTPUT ${rules} CONTENT "set(LAYER_FOLDER \"${folder}\")
set(LAYER_USES \"${arg_USES}\")
set(LAYER_ALLOWED \"${allowed}\")
set(LAYER_FILES \"${files}\")
" @ONLY)
  add_custom_command(
    OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DSOURCE_ROOT=${PROJECT_SOURCE_DIR} -DRULES=${rules} -DSTAMP=${stamp}
            -P ${D88_LAYER_CHECK}
    DEPENDS ${files} ${rules} ${D88_LAYER_CHECK}
    COMMENT "Checking the includes of ${folder}/"
    VERBATIM)

  list(TRANSFORM arg_SOURCES PREPEND ${dir}/)
  if(arg_EXECUTABLE)
    add_executable(${target} ${arg_SOURCES} ${stamp})
  else()
    add_library(${target} STATIC ${arg_SOURCES} ${stamp})
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${arg_USES} PRIVATE d88_product_flags)
endfunction()
