// The liblzma filter chain of an entry coded Lzma (lzma_stream.h): its
// branch conversion, if any, then LZMA2 with `options`. One chain for the
// updater's decoder and mkpatch's encoder, so that both read the header
// byte alike. `conversion` must be one of LZMA_CONVERSION_*.
#pragma once

#include <lzma.h>

#include "update/codec/lzma_stream.h"

struct LzmaChain {
  lzma_filter filters[3] = {};

  LzmaChain(uint8_t conversion, lzma_options_lzma* options) {
    size_t count = 0;
    if (conversion != LZMA_CONVERSION_NONE) {
      filters[count++].id = conversion == LZMA_CONVERSION_X86 ? LZMA_FILTER_X86 : LZMA_FILTER_ARM64;
    }
    filters[count].id = LZMA_FILTER_LZMA2;
    filters[count++].options = options;
    filters[count].id = LZMA_VLI_UNKNOWN;
  }
};
