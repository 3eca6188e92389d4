# What the shipped programs (Update.exe, mkpatch.exe, mkpatch) are built
# with: small, and the same bytes from any checkout folder at any time.
#
# Small: every patch carries Update.exe to every player. Each function gets
# a section of its own and the shipped links drop the unused ones and strip
# the symbols (ship_program below).
#
# Reproducible: no path of the checkout or build folder reaches an object
# (__FILE__, debug info), archives carry no dates, owners or modes, and PE
# links carry no time stamp.
if(MSVC)
  add_compile_options($<$<CONFIG:Release>:/Gy> $<$<CONFIG:Release>:/Gw> /Brepro)
  add_link_options(/Brepro)
  function(ship_program target)
    target_link_options(${target} PRIVATE $<$<CONFIG:Release>:/OPT:REF /OPT:ICF>)
  endfunction()
  function(trim_unwind_tables target)
  endfunction()
  return()
endif()

add_compile_options(
  $<$<CONFIG:Release>:-ffunction-sections>
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
  "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build")
if(NOT WIN32)
  # Not for PE: there GCC puts each zero-filled object in a section of
  # initialised data, so the log's 17 KiB of buffers would fill the file.
  add_compile_options($<$<CONFIG:Release>:-fdata-sections>)
endif()

# Archives without dates, owners or modes (the D modifier; GNU ar only).
foreach(lang C CXX RC)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

if(NOT WIN32)
  function(ship_program target)
    target_link_options(${target} PRIVATE
      $<$<CONFIG:Release>:-Wl,--gc-sections> $<$<CONFIG:Release>:-s>)
  endfunction()
  function(trim_unwind_tables target)
  endfunction()
  return()
endif()

# The PE header's link time would differ on every build.
add_link_options(-Wl,--no-insert-timestamp)

# Size over speed for the Windows programs; the few hot loops (MD5) ask for
# speed themselves.
string(REPLACE "-O3" "-Os" CMAKE_C_FLAGS_RELEASE "${CMAKE_C_FLAGS_RELEASE}")
string(REPLACE "-O3" "-Os" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")

# The linker's own script with one change. It keeps every unwind table
# (.eh_frame) as a root, and each table refers to its function, so nothing
# that has a table is ever dropped, used or not: most of the C++ runtime's
# string and exception code. Here only the tables an exception needs on its
# way to the one kind of handler the shipped programs reach are kept: a
# failed `new (std::nothrow)`, which the runtime turns into a null pointer by
# catching its own bad_alloc (unwinder, __cxa_throw, operator new). The
# programs' own code catches nothing, so a throw anywhere else ends them
# through std::terminate as it did with every table present. (Update.exe
# goes further: its runtime is built without exceptions at all,
# tools/update/runtime/, and none of these tables is left in it.)
# crtbegin's table opens the list the unwinder walks and crtend's closes it.
set(SHIP_LINKER_SCRIPT "")
set(ship_eh_frame "KEEP(*crtbegin.o(.eh_frame*))
    KEEP(*libgcc_eh.a:*(.eh_frame*))
    KEEP(*libstdc++.a:new_op*.o(.eh_frame*))
    KEEP(*libstdc++.a:eh_throw.o(.eh_frame*))
    *(EXCLUDE_FILE(*crtend.o) .eh_frame*)
    KEEP(*crtend.o(.eh_frame*))")
execute_process(COMMAND "${CMAKE_LINKER}" --verbose OUTPUT_VARIABLE ld_verbose
  RESULT_VARIABLE ld_result ERROR_QUIET)
string(FIND "${ld_verbose}" "KEEP(*(.eh_frame*))" keep_at)
if(ld_result EQUAL 0 AND keep_at GREATER -1)
  string(REGEX REPLACE "^.*\n=+\n(.*)\n=+\n.*$" "\\1" ld_script "${ld_verbose}")
  string(REPLACE "KEEP(*(.eh_frame*))" "${ship_eh_frame}" ld_script "${ld_script}")
  set(SHIP_LINKER_SCRIPT "${CMAKE_BINARY_DIR}/ship-pe.x")
  file(WRITE "${SHIP_LINKER_SCRIPT}" "${ld_script}")
else()
  message(WARNING "The linker's default script has no KEEP(*(.eh_frame*)); "
    "shipped programs are linked with the default script (larger).")
endif()

function(ship_program target)
  target_link_options(${target} PRIVATE
    $<$<CONFIG:Release>:-Wl,--gc-sections> $<$<CONFIG:Release>:-s>)
endfunction()

# Only for programs whose own code catches nothing and that use no C++
# streams (the stream code catches inside the runtime): Update.exe.
function(trim_unwind_tables target)
  if(SHIP_LINKER_SCRIPT)
    target_link_options(${target} PRIVATE "$<$<CONFIG:Release>:-Wl,-T,${SHIP_LINKER_SCRIPT}>")
  endif()
endfunction()
