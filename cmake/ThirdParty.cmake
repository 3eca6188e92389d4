# Third-party libraries, from Debian's source packages:
#   update_zstd_decoder   zstd's decompressor (Update.exe, the portable code)
#   update_zstd_compress  zstd's compressor (mkpatch); link it together with the decoder
#   update_lzma_decoder   liblzma's raw LZMA2, x86 and ARM64 decoders (Update.exe)
#   update_lzma_compress  their encoders (mkpatch); link it together with the decoder
#   update_divsufsort     libdivsufsort, 32-bit indexes (mkpatch's deltas)
#
# Debian builds none of them for MinGW and ships no static libdivsufsort, and
# the host and Windows builds must compress alike (mkpatch and mkpatch.exe
# write the same bytes), so every build compiles the same sources: `./dev
# setup` unpacks the source packages into the build tree, and
# UPDATE_THIRD_PARTY_DIR holds zstd/, xz/ and libdivsufsort/.
set(UPDATE_THIRD_PARTY_DIR "" CACHE PATH
  "Folder with the unpacked zstd, xz and libdivsufsort sources (zstd/, xz/, libdivsufsort/)")

set(third_party_zstd "${UPDATE_THIRD_PARTY_DIR}/zstd/lib")
set(third_party_lzma "${UPDATE_THIRD_PARTY_DIR}/xz/src/liblzma")
set(third_party_divsufsort "${UPDATE_THIRD_PARTY_DIR}/libdivsufsort")
if(NOT UPDATE_THIRD_PARTY_DIR OR NOT EXISTS "${third_party_divsufsort}/lib/divsufsort.c"
   OR NOT EXISTS "${third_party_zstd}/zstd.h" OR NOT EXISTS "${third_party_lzma}/api/lzma.h")
  message(FATAL_ERROR "UPDATE_THIRD_PARTY_DIR (\"${UPDATE_THIRD_PARTY_DIR}\") does not hold "
    "the unpacked zstd, xz and libdivsufsort sources; `./dev setup` fetches them into "
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
file(GLOB zstd_common_sources "${third_party_zstd}/common/*.c")
file(GLOB zstd_decompress_sources "${third_party_zstd}/decompress/*.c")
file(GLOB zstd_compress_sources "${third_party_zstd}/compress/*.c")

# What both halves are compiled with: they share lib/common's objects,
# which live in the decoder library alone (so no error texts for either;
# ZSTD_getErrorCode still tells errors apart). No legacy formats, tracing
# or threads.
set(zstd_shared_definitions
  XXH_NAMESPACE=ZSTD_ DEBUGLEVEL=0 ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE
  ZSTD_NO_UNUSED_FUNCTIONS ZSTD_STRIP_ERROR_STRINGS)
if(WIN32)
  # Every updater carries the decoder: no assembly, and the rest of zstd's
  # size switches (lib/README.md), the one-symbol Huffman decoder, the
  # short-offset sequence decoder and no inlining.
  list(APPEND zstd_shared_definitions ZSTD_DISABLE_ASM DYNAMIC_BMI2=0)
  set(zstd_decoder_definitions
    HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_NO_INLINE)
  if(MSVC)
    set(zstd_decoder_options $<$<CONFIG:Release>:/O1>)
  else()
    set(zstd_decoder_options $<$<CONFIG:Release>:-Os> -fno-stack-protector -fomit-frame-pointer)
  endif()
else()
  # The host's tools and benchmarks decode at full speed, as the library
  # Debian ships does: its x86-64 Huffman decoder in assembly included. In
  # every configuration: the sanitizer builds test our code, not zstd's, and
  # compress at the highest levels too.
  set(zstd_decoder_definitions "")
  set(zstd_decoder_options -O3)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64" AND EXISTS
     "${third_party_zstd}/decompress/huf_decompress_amd64.S")
    enable_language(ASM)
    list(APPEND zstd_decompress_sources "${third_party_zstd}/decompress/huf_decompress_amd64.S")
  else()
    list(APPEND zstd_shared_definitions ZSTD_DISABLE_ASM)
  endif()
endif()

third_party_library(update_zstd_decoder ${zstd_common_sources} ${zstd_decompress_sources})
target_include_directories(update_zstd_decoder PUBLIC "${third_party_zstd}")
target_compile_definitions(update_zstd_decoder PRIVATE ${zstd_shared_definitions}
  ${zstd_decoder_definitions})
target_compile_options(update_zstd_decoder PRIVATE ${zstd_decoder_options})

# mkpatch spends its time here at the highest levels: speed, not size
# (on the host in every configuration, as above).
if(MSVC)
  set(third_party_fast_options "")
elseif(WIN32)
  set(third_party_fast_options $<$<CONFIG:Release>:-O2>)
else()
  set(third_party_fast_options -O2)
endif()
third_party_library(update_zstd_compress ${zstd_compress_sources})
target_compile_definitions(update_zstd_compress PRIVATE ${zstd_shared_definitions})
target_link_libraries(update_zstd_compress PUBLIC update_zstd_decoder)
target_compile_options(update_zstd_compress PRIVATE ${third_party_fast_options})

# --- liblzma ------------------------------------------------------------------
# Only its raw coders (no .xz container, checks or threads): LZMA2 behind an
# optional x86 or ARM64 branch converter. The shared objects are compiled
# with every filter either half uses, so that both halves agree on them.
set(lzma_definitions LZMA_API_STATIC HAVE_STDBOOL_H HAVE__BOOL HAVE_STDINT_H HAVE_INTTYPES_H
  HAVE_VISIBILITY=0 HAVE_DECODER_LZMA2 HAVE_DECODER_X86 HAVE_DECODER_ARM64
  HAVE_ENCODER_LZMA2 HAVE_ENCODER_X86 HAVE_ENCODER_ARM64
  HAVE_MF_HC3 HAVE_MF_HC4 HAVE_MF_BT2 HAVE_MF_BT3 HAVE_MF_BT4)
set(lzma_include_dirs api common check delta lz rangecoder lzma simple)
list(TRANSFORM lzma_include_dirs PREPEND "${third_party_lzma}/")
list(APPEND lzma_include_dirs "${third_party_lzma}/../common")
set(lzma_decoder_sources common/common.c common/filter_common.c common/filter_decoder.c
  lz/lz_decoder.c lzma/lzma_decoder.c lzma/lzma2_decoder.c
  simple/simple_coder.c simple/simple_decoder.c simple/x86.c simple/arm64.c)
set(lzma_encoder_sources common/filter_encoder.c lz/lz_encoder.c lz/lz_encoder_mf.c
  lzma/lzma_encoder.c lzma/lzma2_encoder.c lzma/lzma_encoder_optimum_fast.c
  lzma/lzma_encoder_optimum_normal.c lzma/lzma_encoder_presets.c lzma/fastpos_table.c
  rangecoder/price_table.c simple/simple_encoder.c check/crc32_table.c)
list(TRANSFORM lzma_decoder_sources PREPEND "${third_party_lzma}/")
list(TRANSFORM lzma_encoder_sources PREPEND "${third_party_lzma}/")

third_party_library(update_lzma_decoder ${lzma_decoder_sources})
target_include_directories(update_lzma_decoder PUBLIC "${third_party_lzma}/api"
  PRIVATE ${lzma_include_dirs})
target_compile_definitions(update_lzma_decoder PUBLIC LZMA_API_STATIC
  PRIVATE ${lzma_definitions})
if(WIN32)
  # Every updater carries it: the decoder's loops rolled up (HAVE_SMALL;
  # the bytes it decodes do not change).
  target_compile_definitions(update_lzma_decoder PRIVATE HAVE_SMALL)
endif()
if(WIN32 AND NOT MSVC)
  target_compile_options(update_lzma_decoder PRIVATE
    $<$<CONFIG:Release>:-Os> -fno-stack-protector -fomit-frame-pointer)
elseif(NOT WIN32)
  target_compile_options(update_lzma_decoder PRIVATE ${third_party_fast_options})
endif()

third_party_library(update_lzma_compress ${lzma_encoder_sources})
target_include_directories(update_lzma_compress PRIVATE ${lzma_include_dirs})
target_compile_definitions(update_lzma_compress PRIVATE ${lzma_definitions})
target_link_libraries(update_lzma_compress PUBLIC update_lzma_decoder)
target_compile_options(update_lzma_compress PRIVATE ${third_party_fast_options})

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
