# add_native_test(NAME SOURCES ... [LIBS ...])  host build only, label "native"
# add_wine_test(NAME SOURCES ... [LIBS ...] [GUI] [SHARED_STATE])  Windows build,
#   run under Wine, label "wine" (and "gui" when the test needs a display).
#   GUI and SHARED_STATE tests touch what every updater in the Wine session
#   shares (the single-instance mutex, the game's registry keys, the process
#   list), so ctest never runs two of them at once.
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
  cmake_parse_arguments(T "GUI;SHARED_STATE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  use_gbk_literals(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(labels wine)
  if(T_GUI)
    list(APPEND labels gui)
  endif()
  if(T_GUI OR T_SHARED_STATE)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK updater_shared_state)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 600
    FIXTURES_REQUIRED wine_session WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    ENVIRONMENT "UPDATE_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix")
endfunction()
