# Warnings and character-set settings shared by every target.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

if(MSVC)
  add_compile_options(/W4 /utf-8)
else()
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

# The Windows programs talk to the ANSI APIs in code page 936: sources stay
# UTF-8 and the compiler turns string literals into GBK bytes.
function(use_gbk_literals target)
  if(NOT WIN32)
    return()
  endif()
  if(MSVC)
    target_compile_options(${target} PRIVATE /source-charset:utf-8 /execution-charset:.936)
  else()
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GBK)
  endif()
endfunction()

if(WIN32)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
endif()

# One library per folder of tools/. tools/ is the include root, so every
# include names the folder its header lives in ("update/format/payload.h").
#   add_tools_library(NAME [CATCHES_NOTHING] SOURCES ... [LIBS public...] [PRIVATE_LIBS ...])
# CATCHES_NOTHING: no exception ever passes through the library's code to a
# handler (the updater catches none at all; mkpatch only around its
# encoder). The Windows build leaves out the unwinding code there, which
# every patch would otherwise carry in Update.exe; an exception that still
# arrives ends the program, as an uncaught one does anyway.
function(add_tools_library name)
  cmake_parse_arguments(L "CATCHES_NOTHING" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/tools")
  target_link_libraries(${name} PUBLIC ${L_LIBS} PRIVATE ${L_PRIVATE_LIBS})
  use_gbk_literals(${name})
  if(L_CATCHES_NOTHING AND MINGW)
    target_compile_options(${name} PRIVATE -fno-exceptions)
  endif()
endfunction()
