# Third-party libraries, as Debian ships them:
#   update_zstd_decoder   zstd's decompressor (Update.exe, the portable code)
#   update_zstd_compress  zstd's compressor (mkpatch); link it together with the decoder
#   update_divsufsort     libdivsufsort, 32-bit indexes (mkpatch's deltas)
#
# Host build: zstd is the static libzstd.a of Debian's libzstd-dev.
# Windows (MinGW, or MSVC): zstd is compiled here from its sources, as is
# libdivsufsort everywhere (Debian ships no static archive of it, and the
# shipped mkpatch must run where the library is not installed). The sources
# are Debian's source packages of the same versions, unpacked by `./dev setup`
# into the build tree: UPDATE_THIRD_PARTY_DIR holds zstd/ and libdivsufsort/.
set(UPDATE_THIRD_PARTY_DIR "" CACHE PATH
  "Folder with the unpacked zstd and libdivsufsort sources (zstd/, libdivsufsort/)")

set(third_party_zstd "${UPDATE_THIRD_PARTY_DIR}/zstd/lib")
set(third_party_divsufsort "${UPDATE_THIRD_PARTY_DIR}/libdivsufsort")
if(NOT UPDATE_THIRD_PARTY_DIR OR NOT EXISTS "${third_party_divsufsort}/lib/divsufsort.c"
   OR (WIN32 AND NOT EXISTS "${third_party_zstd}/zstd.h"))
  message(FATAL_ERROR "UPDATE_THIRD_PARTY_DIR (\"${UPDATE_THIRD_PARTY_DIR}\") does not hold "
    "the unpacked zstd and libdivsufsort sources; `./dev setup` fetches them into "
    "build/third_party/src, and README.md says how to provide them on Windows.")
endif()

# Their path must not reach an object any more than the checkout's does
# (the later map wins where both match: the sources may lie in the checkout's build folder).
if(NOT MSVC)
  add_compile_options("-ffile-prefix-map=${UPDATE_THIRD_PARTY_DIR}=third_party")
endif()

# Their code is theirs: no warnings from it.
function(third_party_library target)
  add_library(${target} STATIC ${ARGN})
  if(MSVC)
    target_compile_options(${target} PRIVATE /W0)
  else()
    target_compile_options(${target} PRIVATE -w)
  endif()
endfunction()

# --- zstd ---------------------------------------------------------------------
if(NOT WIN32)
  find_path(UPDATE_ZSTD_INCLUDE_DIR zstd.h)
  find_library(UPDATE_ZSTD_LIBRARY NAMES libzstd.a)
  if(NOT UPDATE_ZSTD_INCLUDE_DIR OR NOT UPDATE_ZSTD_LIBRARY)
    message(FATAL_ERROR "libzstd.a and zstd.h not found: install libzstd-dev (./dev setup)")
  endif()
  add_library(update_zstd_static STATIC IMPORTED)
  set_target_properties(update_zstd_static PROPERTIES
    IMPORTED_LOCATION "${UPDATE_ZSTD_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${UPDATE_ZSTD_INCLUDE_DIR}")
  # One archive serves both: a program that links both gets each object once.
  add_library(update_zstd_decoder INTERFACE)
  target_link_libraries(update_zstd_decoder INTERFACE update_zstd_static)
  add_library(update_zstd_compress INTERFACE)
  target_link_libraries(update_zstd_compress INTERFACE update_zstd_static)
else()
  file(GLOB zstd_common_sources "${third_party_zstd}/common/*.c")
  file(GLOB zstd_decompress_sources "${third_party_zstd}/decompress/*.c")
  file(GLOB zstd_compress_sources "${third_party_zstd}/compress/*.c")

  # What both halves are compiled with: they share lib/common's objects,
  # which live in the decoder library alone (so no error texts for either;
  # ZSTD_getErrorCode still tells errors apart). No legacy formats, tracing,
  # threads or assembly.
  set(zstd_shared_definitions
    XXH_NAMESPACE=ZSTD_ DEBUGLEVEL=0 ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE ZSTD_DISABLE_ASM
    DYNAMIC_BMI2=0 ZSTD_NO_UNUSED_FUNCTIONS ZSTD_STRIP_ERROR_STRINGS)

  # Every updater carries the decoder: the rest of zstd's size switches
  # (lib/README.md), the one-symbol Huffman decoder, the short-offset
  # sequence decoder and no inlining.
  third_party_library(update_zstd_decoder ${zstd_common_sources} ${zstd_decompress_sources})
  target_include_directories(update_zstd_decoder PUBLIC "${third_party_zstd}")
  target_compile_definitions(update_zstd_decoder PRIVATE ${zstd_shared_definitions}
    HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_NO_INLINE)
  if(MSVC)
    target_compile_options(update_zstd_decoder PRIVATE $<$<CONFIG:Release>:/O1>)
  else()
    target_compile_options(update_zstd_decoder PRIVATE
      $<$<CONFIG:Release>:-Os> -fno-stack-protector -fomit-frame-pointer)
  endif()

  # mkpatch spends its time here at the highest levels: speed, not size.
  third_party_library(update_zstd_compress ${zstd_compress_sources})
  target_compile_definitions(update_zstd_compress PRIVATE ${zstd_shared_definitions})
  target_link_libraries(update_zstd_compress PUBLIC update_zstd_decoder)
  if(NOT MSVC)
    target_compile_options(update_zstd_compress PRIVATE $<$<CONFIG:Release>:-O2>)
  endif()
endif()

# --- libdivsufsort ------------------------------------------------------------
# divsufsort.h and config.h from their templates, as the library's own CMake
# script would write them for a static 32-bit-index build.
set(divsufsort_include "${CMAKE_BINARY_DIR}/third_party/divsufsort/include")
set(W64BIT "")
set(INCFILE "#include <inttypes.h>")
set(DIVSUFSORT_IMPORT "")
set(DIVSUFSORT_EXPORT "")
set(SAUCHAR_TYPE uint8_t)
set(SAINT32_TYPE int32_t)
set(SAINDEX_TYPE int32_t)
set(SAINT_PRId PRId32)
set(SAINDEX_PRId PRId32)
configure_file("${third_party_divsufsort}/include/divsufsort.h.cmake"
  "${divsufsort_include}/divsufsort.h" @ONLY)
file(READ "${third_party_divsufsort}/VERSION" PROJECT_VERSION_FULL)
string(STRIP "${PROJECT_VERSION_FULL}" PROJECT_VERSION_FULL)
foreach(header INTTYPES STDDEF STDINT STDLIB STRING)
  set(HAVE_${header}_H 1)
endforeach()
if(MSVC)
  set(INLINE __inline)
else()
  set(INLINE inline)
endif()
configure_file("${third_party_divsufsort}/include/config.h.cmake"
  "${divsufsort_include}/private/config.h")

third_party_library(update_divsufsort
  "${third_party_divsufsort}/lib/divsufsort.c" "${third_party_divsufsort}/lib/sssort.c"
  "${third_party_divsufsort}/lib/trsort.c" "${third_party_divsufsort}/lib/utils.c")
target_include_directories(update_divsufsort PUBLIC "${divsufsort_include}"
  PRIVATE "${divsufsort_include}/private" "${third_party_divsufsort}/include")
target_compile_definitions(update_divsufsort PRIVATE HAVE_CONFIG_H=1
  __STDC_LIMIT_MACROS __STDC_CONSTANT_MACROS __STDC_FORMAT_MACROS)
