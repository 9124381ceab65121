# Test of the compiled Orvella.chm, run by the test orvella_help_contents:
#   cmake -DCHM=... -DCHMLS=... -DICONV=... -DSOURCE_DIR=... -DSTAGE_DIR=...
#         -DPAGES=a,b,... -DWORK_DIR=... -P check_chm.cmake
#
# Opens the compiled file with chmls and checks that
#  - every page OrvlHook asks for, the table of contents and the style sheet
#    are inside, each byte for byte as staged for the compiler;
#  - every page has the title its source gives it: English pages are plain
#    ASCII, Russian pages are Windows-1251 text (not UTF-8) that declares
#    that charset;
#  - the default topic is the English introduction.

cmake_minimum_required(VERSION 3.16)

foreach(_v CHM CHMLS ICONV SOURCE_DIR STAGE_DIR PAGES WORK_DIR)
  if(NOT DEFINED ${_v} OR "${${_v}}" STREQUAL "")
    message(FATAL_ERROR "check_chm.cmake: ${_v} is not set")
  endif()
endforeach()

set(_failures 0)
macro(_orvl_fail msg)
  message(SEND_ERROR "${msg}")
  math(EXPR _failures "${_failures} + 1")
endmacro()

if(NOT EXISTS "${CHM}")
  message(FATAL_ERROR "${CHM} does not exist; build the target orvella_help first")
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

execute_process(COMMAND "${CHMLS}" -n -p list "${CHM}"
  OUTPUT_VARIABLE _listing ERROR_VARIABLE _err RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "chmls cannot list ${CHM}: ${_err}")
endif()

# Reads the text between <title> and </title> of a file into out_var.
function(_orvl_title file out_var)
  file(READ "${file}" _text)
  if(_text MATCHES "<title>([^<]*)</title>")
    set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  else()
    set(${out_var} "" PARENT_SCOPE)
  endif()
endfunction()

string(REPLACE "," ";" _pages "${PAGES}")
set(_entries ${_pages} Orvella.hhc htmls/help.css)

foreach(_p IN LISTS _entries)
  string(REGEX REPLACE "([][.+*?^$()|\\\\])" "\\\\\\1" _p_re "${_p}")
  if(NOT _listing MATCHES "(^|\n)/${_p_re}[ \t\r]*(\n|$)")
    _orvl_fail("${_p} is not in ${CHM}")
    continue()
  endif()
  set(_x "${WORK_DIR}/${_p}")
  get_filename_component(_xdir "${_x}" DIRECTORY)
  file(MAKE_DIRECTORY "${_xdir}")
  execute_process(COMMAND "${CHMLS}" extract "${CHM}" "/${_p}" "${_x}"
    OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0 OR NOT EXISTS "${_x}")
    _orvl_fail("${_p} cannot be extracted from ${CHM}")
    continue()
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files
      "${_x}" "${STAGE_DIR}/${_p}"
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    _orvl_fail("${_p} in ${CHM} differs from the staged ${STAGE_DIR}/${_p}")
  endif()
endforeach()

foreach(_p IN LISTS _pages)
  set(_x "${WORK_DIR}/${_p}")
  if(NOT EXISTS "${_x}")
    continue()
  endif()
  _orvl_title("${SOURCE_DIR}/${_p}" _want)
  if(_want STREQUAL "")
    _orvl_fail("the source of ${_p} has no <title>")
    continue()
  endif()
  if(_p MATCHES "^htmls_r/")
    file(READ "${_x}" _text)
    if(NOT _text MATCHES "charset=windows-1251")
      _orvl_fail("${_p} does not declare charset=windows-1251")
    endif()
    execute_process(COMMAND "${ICONV}" -f UTF-8 -t UTF-8 "${_x}"
      OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE _rc)
    if(_rc EQUAL 0)
      _orvl_fail("${_p} in ${CHM} is UTF-8 (or ASCII), not Windows-1251 text")
    endif()
    execute_process(COMMAND "${ICONV}" -f CP1251 -t UTF-8 "${_x}"
      OUTPUT_FILE "${_x}.utf8" ERROR_QUIET RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      _orvl_fail("${_p} in ${CHM} is not valid Windows-1251 text")
      continue()
    endif()
    _orvl_title("${_x}.utf8" _have)
  else()
    execute_process(COMMAND "${ICONV}" -f ASCII -t ASCII "${_x}"
      OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      _orvl_fail("${_p} in ${CHM} is not plain ASCII")
    endif()
    _orvl_title("${_x}" _have)
  endif()
  if(NOT _have STREQUAL _want)
    _orvl_fail("${_p}: title is \"${_have}\", expected \"${_want}\"")
  else()
    message(STATUS "${_p}: ${_have}")
  endif()
endforeach()

execute_process(COMMAND "${CHMLS}" printsystem "${CHM}"
  OUTPUT_VARIABLE _system ERROR_QUIET RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0 OR NOT _system MATCHES "Default topic from \\[options\\] *:htmls/Intro\\.htm")
  _orvl_fail("the default topic of ${CHM} is not htmls/Intro.htm")
endif()

if(_failures GREATER 0)
  message(FATAL_ERROR "${_failures} check(s) of ${CHM} failed")
endif()
message(STATUS "${CHM}: all checks passed")
