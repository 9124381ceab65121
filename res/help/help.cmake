# Orvella.chm, the HTML Help file that OrvlHook opens from its own folder.
#
# Include this file from the top-level CMakeLists.txt:
#
#   set(ORVL_OUTPUT_DIR ${CMAKE_BINARY_DIR}/bin)   # where OrvlHook.dll lands
#   include(res/help/help.cmake)
#
# It adds the target `orvella_help` (part of ALL), which compiles the help
# with Free Pascal's chmcmd (Debian package fp-utils) into
# ${ORVL_OUTPUT_DIR}/Orvella.chm, and, when testing is enabled and chmls is
# available, the test `orvella_help_contents`, which opens the compiled file
# and checks its pages.
#
# Sources: the English pages (htmls/) and the project file are plain ASCII;
# the Russian pages (htmls_r/) and the table of contents are kept in UTF-8
# here and converted to Windows-1251 at build time, since the help viewer
# reads them as ANSI text. Everything is staged in the build tree, because
# chmcmd writes its output next to the project file.
#
# chmcmd stamps the file with the time of the run; with SOURCE_DATE_EPOCH in
# the build's environment, pin_chm_time.py sets those stamps to that time
# instead, so that the file is reproducible (scripts/package.sh does this).

include_guard(GLOBAL)

if(NOT DEFINED ORVL_OUTPUT_DIR OR ORVL_OUTPUT_DIR STREQUAL "")
  set(ORVL_OUTPUT_DIR "${CMAKE_BINARY_DIR}")
endif()

find_program(ORVL_CHMCMD NAMES chmcmd
  DOC "Free Pascal CHM compiler (Debian package fp-utils)")
if(NOT ORVL_CHMCMD)
  message(FATAL_ERROR
    "chmcmd was not found, so the help file Orvella.chm cannot be built. "
    "Install it with 'apt-get install fp-utils', or set ORVL_CHMCMD to "
    "the full path of chmcmd.")
endif()

find_program(ORVL_ICONV NAMES iconv DOC "iconv, for the Windows-1251 help pages")
if(NOT ORVL_ICONV)
  message(FATAL_ERROR
    "iconv was not found; it is needed to convert the Russian help pages "
    "to Windows-1251. On Debian it comes with libc-bin.")
endif()

find_program(ORVL_CHMLS NAMES chmls DOC "Free Pascal CHM lister (fp-utils)")

# Sets chmcmd's time stamps from SOURCE_DATE_EPOCH, for reproducible builds.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(ORVL_HELP_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(ORVL_HELP_STAGE_DIR "${CMAKE_CURRENT_BINARY_DIR}/orvella_help")
set(ORVL_HELP_CHM "${ORVL_OUTPUT_DIR}/Orvella.chm")

# Copied as they are; the build stops if any of them is not plain ASCII.
set(ORVL_HELP_ASCII_FILES
  Orvella.hhp
  htmls/Intro.htm
  htmls/Interface.htm
  htmls/help.css
)
# Kept in UTF-8, compiled as Windows-1251.
set(ORVL_HELP_CP1251_FILES
  Orvella.hhc
  htmls_r/Intro.htm
  htmls_r/Interface.htm
)
# The pages OrvlHook opens, in both topic folders.
set(ORVL_HELP_PAGES
  htmls/Intro.htm
  htmls/Interface.htm
  htmls_r/Intro.htm
  htmls_r/Interface.htm
)

set(_orvl_help_depends
  "${ORVL_HELP_SOURCE_DIR}/compile_chm.cmake"
  "${ORVL_HELP_SOURCE_DIR}/pin_chm_time.py")
foreach(_f IN LISTS ORVL_HELP_ASCII_FILES ORVL_HELP_CP1251_FILES)
  list(APPEND _orvl_help_depends "${ORVL_HELP_SOURCE_DIR}/${_f}")
endforeach()

# Lists travel to the script with "," in place of ';'.
string(REPLACE ";" "," _orvl_ascii "${ORVL_HELP_ASCII_FILES}")
string(REPLACE ";" "," _orvl_cp1251 "${ORVL_HELP_CP1251_FILES}")
string(REPLACE ";" "," _orvl_pages "${ORVL_HELP_PAGES}")

add_custom_command(
  OUTPUT "${ORVL_HELP_CHM}"
  COMMAND "${CMAKE_COMMAND}"
    "-DSOURCE_DIR=${ORVL_HELP_SOURCE_DIR}"
    "-DSTAGE_DIR=${ORVL_HELP_STAGE_DIR}"
    "-DOUTPUT=${ORVL_HELP_CHM}"
    "-DCHMCMD=${ORVL_CHMCMD}"
    "-DICONV=${ORVL_ICONV}"
    "-DASCII_FILES=${_orvl_ascii}"
    "-DCP1251_FILES=${_orvl_cp1251}"
    "-DPYTHON=${Python3_EXECUTABLE}"
    "-DPIN_TIME=${ORVL_HELP_SOURCE_DIR}/pin_chm_time.py"
    -P "${ORVL_HELP_SOURCE_DIR}/compile_chm.cmake"
  DEPENDS ${_orvl_help_depends}
  COMMENT "Compiling help file Orvella.chm"
  VERBATIM
)

add_custom_target(orvella_help ALL DEPENDS "${ORVL_HELP_CHM}")

# Checks the compiled file itself: every page, the table of contents and the
# style sheet are inside, byte for byte as staged, with the right titles and
# encodings, and the default topic is the English introduction. The test
# exists only when the top level calls enable_testing().
if(ORVL_CHMLS)
  add_test(NAME orvella_help_contents
    COMMAND "${CMAKE_COMMAND}"
      "-DCHM=${ORVL_HELP_CHM}"
      "-DCHMLS=${ORVL_CHMLS}"
      "-DICONV=${ORVL_ICONV}"
      "-DSOURCE_DIR=${ORVL_HELP_SOURCE_DIR}"
      "-DSTAGE_DIR=${ORVL_HELP_STAGE_DIR}"
      "-DPAGES=${_orvl_pages}"
      "-DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/orvella_help_check"
      -P "${ORVL_HELP_SOURCE_DIR}/check_chm.cmake")
endif()

unset(_f)
unset(_orvl_help_depends)
unset(_orvl_ascii)
unset(_orvl_cp1251)
unset(_orvl_pages)
