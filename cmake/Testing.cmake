# add_native_test(NAME SOURCES ... [LIBS ...])  host build only, label "native"
# add_wine_test(NAME SOURCES ... [LIBS ...] [GUI])  Windows build, run under Wine,
#   label "wine" (and "gui" when the test needs a display)
# Each test program is one ctest test; GoogleTest's own output names the cases.
function(add_native_test name)
  if(WIN32)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS native TIMEOUT 300)
endfunction()

function(add_wine_test name)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  use_gbk_literals(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(labels wine)
  if(T_GUI)
    list(APPEND labels gui)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 600
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    ENVIRONMENT "UPDATE_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
endfunction()
