# Fails when a file of the folder FOLDER includes a header of a project folder outside ALLOWED.
#   cmake -DSOURCE_DIR=<root> -DFOLDER=<folder> -DALLOWED=<folder>,<folder>,... -P CheckLayerIncludes.cmake
# Only includes whose first path part names a folder of SOURCE_DIR count (headers are included by path
# from the root); system headers and generated files pass.
cmake_minimum_required(VERSION 3.20)
foreach(variable SOURCE_DIR FOLDER ALLOWED)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CheckLayerIncludes: ${variable} is not set")
  endif()
endforeach()
string(REPLACE "," ";" allowed "${ALLOWED}")
list(JOIN allowed ", " allowedText)

file(GLOB files ${SOURCE_DIR}/${FOLDER}/*.h ${SOURCE_DIR}/${FOLDER}/*.cpp)
set(include "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">]")
set(problems)
foreach(file IN LISTS files)
  file(STRINGS ${file} lines REGEX "${include}")
  get_filename_component(name ${file} NAME)
  foreach(line IN LISTS lines)
    string(REGEX MATCH "${include}" ignored "${line}")
    set(path "${CMAKE_MATCH_1}")
    if(NOT path MATCHES "^([^/]+)/")
      continue()
    endif()
    set(folder "${CMAKE_MATCH_1}")
    if(folder IN_LIST allowed OR NOT IS_DIRECTORY ${SOURCE_DIR}/${folder})
      continue()
    endif()
    list(APPEND problems
         "  ${FOLDER}/${name} includes \"${path}\", but quillore_${FOLDER} does not link quillore_${folder}")
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n" problemText)
  message(FATAL_ERROR "Layering: ${FOLDER}/ may include only ${allowedText}:\n${problemText}")
endif()
