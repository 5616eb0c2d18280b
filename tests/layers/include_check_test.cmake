# The layering's include check (cmake/CheckLayerIncludes.cmake) on a scratch tree, one case a row.
#   cmake -DCHECKER=<CheckLayerIncludes.cmake> -DWORK_DIR=<scratch folder> -P include_check_test.cmake
# Each row: the file written, its one include line, the folders it may use, and what the check must say
# (PASS, or a piece of the failure message).
cmake_minimum_required(VERSION 3.20)
set(cases
  # a layer uses itself and the layer below it
  "util/own.cpp|#include \"util/text.h\"|util,platform|PASS"
  "util/below.h|#include \"platform/codepage.h\"|util,platform|PASS"
  # an upward include, in a source and in a header
  "util/upward.cpp|#include \"http/web_request.h\"|util,platform|\"http/web_request.h\", but the library of util/ does not link that of http/"
  "platform/upward.h|#include \"util/text.h\"|platform|platform/upward.h includes \"util/text.h\""
  # the angle form and extra spaces do not hide one
  "platform/angle.h|#include <util/text.h>|platform|platform/angle.h includes \"util/text.h\""
  "util/spaced.cpp|  #  include \"http/text_helpers.h\"|util,platform|util/spaced.cpp includes \"http/text_helpers.h\""
  # a product layer may not use a test aid
  "platform/aid.cpp|#include \"tests/support/fake_http_stack.h\"|platform|does not link that of tests/"
  # system headers and files without a folder are not layers
  "platform/system.cpp|#include <curl/curl.h>|platform|PASS"
  "app/moc.cpp|#include \"moc_main_window.cpp\"|app|PASS"
  # a sibling layer that is linked is fine, one that is not is not
  "app/sibling.cpp|#include \"imaging/rgba_image.h\"|app,imaging,recognition|PASS"
  "recognition/sibling.cpp|#include \"imaging/rgba_image.h\"|recognition,http,util,platform|does not link that of imaging/")

set(failures 0)
set(row 0)
foreach(case IN LISTS cases)
  math(EXPR row "${row} + 1")
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 file)
  list(GET fields 1 line)
  list(GET fields 2 allowed)
  list(GET fields 3 expected)
  # A fresh tree per row, with every folder a row names, so that includes name real folders.
  set(root ${WORK_DIR}/row${row})
  file(REMOVE_RECURSE ${root})
  foreach(folder platform util http recognition imaging app tests)
    file(MAKE_DIRECTORY ${root}/${folder})
  endforeach()
  file(WRITE ${root}/${file} "// row ${row}\n${line}\n")
  get_filename_component(folder ${file} DIRECTORY)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${root} -DFOLDER=${folder} -DALLOWED=${allowed}
                          -P ${CHECKER}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expected STREQUAL "PASS")
    if(NOT status EQUAL 0)
      message(SEND_ERROR "row ${row} (${file}: ${line}) should pass, failed:\n${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  else()
    string(FIND "${err}" "${expected}" at)
    if(status EQUAL 0 OR at EQUAL -1)
      message(SEND_ERROR "row ${row} (${file}: ${line}) should fail with '${expected}'; status ${status}:\n"
                         "${err}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${row} rows failed")
endif()
message(STATUS "all ${row} rows as expected")
