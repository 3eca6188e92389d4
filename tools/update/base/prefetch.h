// A hint that memory is about to be read, so that its cache line is on the
// way while other work goes on. Only a hint: any address may be named, and
// nothing is read or faults.
#pragma once

#if defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
#include <xmmintrin.h>
#endif

inline void PrefetchForRead(const void* address) {
#if defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
  _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#elif defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
  // GCC drops __builtin_prefetch as dead code where its address comes from
  // loads made only for it, which is the case here.
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#elif defined(__GNUC__)
  __builtin_prefetch(address, 0, 3);
#else
  (void)address;
#endif
}
