# add_native_test(NAME SOURCES ... [LIBS ...] [MAY_SKIP case ...])  host build
#   only, label "native"
# add_wine_test(NAME SOURCES ... [LIBS ...] [GUI] [SHARED_STATE] [MAY_SKIP case ...])
#   Windows build, run under Wine, label "wine" (and "gui" when the test needs
#   a display). GUI and SHARED_STATE tests touch what every updater in the Wine
#   session shares (the single-instance mutex, the game's registry keys, the
#   process list), so ctest never runs two of them at once.
# Each test program is one ctest test; GoogleTest's own output names the cases.
# A program whose cases skipped (and none failed) is reported as skipped, not
# passed (tests/support/test_main.cpp). Cases named in MAY_SKIP (Suite.Case),
# those that skip where a machine lacks something, run as ctest tests of their
# own, NAME.Suite.Case, so that their skip does not hide the rest of NAME.

# The exit code of test_main.cpp for "skipped, nothing failed".
set(TEST_SKIPPED_EXIT_CODE 77)

# GoogleTest's main with that exit code, for every test program.
add_library(test_main STATIC "${PROJECT_SOURCE_DIR}/tests/support/test_main.cpp")
target_link_libraries(test_main PUBLIC GTest::gtest)

# Has ctest report the tests as skipped when their program says so.
function(report_skips tests)
  set_tests_properties(${tests} ${ARGN} PROPERTIES SKIP_RETURN_CODE ${TEST_SKIPPED_EXIT_CODE})
endfunction()

# Registers the program `name` as ctest tests: the cases in the list
# `may_skip` one by one, the rest as `name`. Sets `${out}` to the tests.
function(add_gtest_program name may_skip out)
  set(tests ${name})
  if(may_skip)
    list(JOIN may_skip ":" excluded)
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=-${excluded})
    foreach(case IN LISTS may_skip)
      add_test(NAME ${name}.${case} COMMAND ${name} --gtest_filter=${case})
      list(APPEND tests ${name}.${case})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  report_skips(${tests})
  set(${out} ${tests} PARENT_SCOPE)
endfunction()

function(add_native_test name)
  if(WIN32)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;MAY_SKIP" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_main)
  add_gtest_program(${name} "${T_MAY_SKIP}" tests)
  set_tests_properties(${tests} PROPERTIES LABELS native TIMEOUT 300)
endfunction()

function(add_wine_test name)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(T "GUI;SHARED_STATE" "" "SOURCES;LIBS;MAY_SKIP" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_main)
  use_gbk_literals(${name})
  add_gtest_program(${name} "${T_MAY_SKIP}" tests)
  set(labels wine)
  if(T_GUI)
    list(APPEND labels gui)
  endif()
  if(T_GUI OR T_SHARED_STATE)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK updater_shared_state)
  endif()
  set_tests_properties(${tests} PROPERTIES LABELS "${labels}" TIMEOUT 600
    FIXTURES_REQUIRED wine_session WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    ENVIRONMENT "UPDATE_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
endfunction()
