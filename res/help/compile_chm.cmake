# Build step of Orvella.chm, run by help.cmake as
#   cmake -DSOURCE_DIR=... -DSTAGE_DIR=... -DOUTPUT=... -DCHMCMD=... -DICONV=...
#         -DASCII_FILES=a,b,... -DCP1251_FILES=c,d,... -P compile_chm.cmake
#
# 1. Stages the help sources in STAGE_DIR (a fresh copy each time): ASCII
#    files are copied through iconv, which rejects any non-ASCII byte; the
#    UTF-8 masters are converted to Windows-1251.
# 2. Runs chmcmd on the staged project, so the source tree stays clean.
# 3. When SOURCE_DATE_EPOCH is set in the environment, sets the time stamps
#    chmcmd wrote to that time (PIN_TIME, a Python script), so that the file
#    is the same on every run.
# 4. Copies the compiled file to OUTPUT.

cmake_minimum_required(VERSION 3.16)

foreach(_v SOURCE_DIR STAGE_DIR OUTPUT CHMCMD ICONV ASCII_FILES CP1251_FILES PYTHON PIN_TIME)
  if(NOT DEFINED ${_v} OR "${${_v}}" STREQUAL "")
    message(FATAL_ERROR "compile_chm.cmake: ${_v} is not set")
  endif()
endforeach()

string(REPLACE "," ";" _ascii "${ASCII_FILES}")
string(REPLACE "," ";" _cp1251 "${CP1251_FILES}")

file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}")

function(_orvl_stage rel from_code to_code)
  set(_in "${SOURCE_DIR}/${rel}")
  set(_out "${STAGE_DIR}/${rel}")
  if(NOT EXISTS "${_in}")
    message(FATAL_ERROR "Help source ${_in} is missing")
  endif()
  get_filename_component(_dir "${_out}" DIRECTORY)
  file(MAKE_DIRECTORY "${_dir}")
  execute_process(
    COMMAND "${ICONV}" -f "${from_code}" -t "${to_code}" "${_in}"
    OUTPUT_FILE "${_out}"
    ERROR_VARIABLE _err
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR
      "Help source ${rel} cannot be converted from ${from_code} to "
      "${to_code}: ${_err}")
  endif()
endfunction()

foreach(_f IN LISTS _ascii)
  _orvl_stage("${_f}" ASCII ASCII)
endforeach()
foreach(_f IN LISTS _cp1251)
  _orvl_stage("${_f}" UTF-8 CP1251)
endforeach()

# The files are listed in the project's [FILES] section, so chmcmd need not
# scan the pages for links. (Its scanner also confuses anchors of pages
# that have the same name in htmls/ and htmls_r/.)
execute_process(
  COMMAND "${CHMCMD}" --no-html-scan Orvella.hhp
  WORKING_DIRECTORY "${STAGE_DIR}"
  OUTPUT_VARIABLE _out
  ERROR_VARIABLE _err
  RESULT_VARIABLE _rc)
set(_log "${_out}${_err}")
if(NOT _rc EQUAL 0 OR _log MATCHES "(^|\n)(Error|Fatal)")
  message(FATAL_ERROR "chmcmd failed (exit code ${_rc}):\n${_log}")
endif()
if(_log MATCHES "(^|\n)Warning")
  message(WARNING "chmcmd reported:\n${_log}")
endif()
if(NOT EXISTS "${STAGE_DIR}/Orvella.chm")
  message(FATAL_ERROR "chmcmd did not produce Orvella.chm:\n${_log}")
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH is not a number of seconds: '$ENV{SOURCE_DATE_EPOCH}'")
  endif()
  execute_process(
    COMMAND "${PYTHON}" "${PIN_TIME}" "${STAGE_DIR}/Orvella.chm" "$ENV{SOURCE_DATE_EPOCH}"
    ERROR_VARIABLE _err
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "Cannot set the time stamps of Orvella.chm: ${_err}")
  endif()
endif()

get_filename_component(_outdir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${_outdir}")
# A plain copy, so that OUTPUT is always newer than the sources.
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E copy "${STAGE_DIR}/Orvella.chm" "${OUTPUT}"
  RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "Cannot copy Orvella.chm to ${OUTPUT}")
endif()
