# Static analysis of the module's own sources (host/, settings/, mapi/, about/) as part of the
# test pass: scripts/static-analysis.sh runs cppcheck and clang-tidy (checks in .clang-tidy) and
# fails on any finding. The command is bash, not a target of this build, so CTest runs it
# natively instead of through CMAKE_CROSSCOMPILING_EMULATOR.
add_test(NAME StaticAnalysis.cppcheck
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/static-analysis.sh cppcheck)
add_test(NAME StaticAnalysis.clang_tidy
  COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/static-analysis.sh clang-tidy)
set_tests_properties(StaticAnalysis.cppcheck PROPERTIES TIMEOUT 60 LABELS static-analysis)
set_tests_properties(StaticAnalysis.clang_tidy PROPERTIES TIMEOUT 120 LABELS static-analysis)
