// The zstd levels every way of encoding a file shares, in memory or streamed.
#pragma once

#include <cstddef>

// zstd's strongest levels, where the time they take is worth it: a patch is
// built once and downloaded by every player. Above the limit the ultra level
// costs more time than its bytes are worth.
constexpr int kEncodeLevel = 19;
constexpr int kEncodeUltraLevel = 22;
constexpr size_t kEncodeUltraLimit = size_t(64) << 20;
// No zstd level compresses a file this many times better than a quick one,
// so a delta that much smaller than the quickly compressed file wins.
constexpr size_t kWholeHopeless = 3;
// The quick level that tells when a whole file cannot win.
constexpr int kHopelessProbeLevel = 3;
