# Prints the files of DIR with their sizes: cmake -DDIR=... -P ListFiles.cmake
file(GLOB names RELATIVE ${DIR} ${DIR}/*)
list(SORT names)
foreach(name IN LISTS names)
  file(SIZE ${DIR}/${name} size)
  message("  ${name}  ${size} bytes")
endforeach()
