// Progress reports from the update run to whoever shows them.
#pragma once

#include <cstdint>

// (user value, code, counter a, counter b)
typedef void (*ProgressCallback)(uint32_t userValue, uint32_t code, uint32_t a, uint32_t b);

// Every entry reports its extraction and installation, in payload order. A
// described entry counts decoded bytes: as many PG_EXTRACT_BYTES reports, with
// the same counters, as a plain entry of its decoded size. A file already at
// its new bytes reports both pairs without bytes. A removal reports
// PG_INSTALL_BEGIN and PG_INSTALL_END only, after every other entry.
enum ProgressCode : uint32_t {
  PG_PERCENT = 5,           // a done of b; sent by nobody in the updater
  PG_EXTRACT_BEGIN = 1001,  // a = entry ordinal (from 1), b = entry count
  PG_EXTRACT_BYTES = 1002,  // a = bytes of the entry still to copy (decode), b = its size
  PG_EXTRACT_END = 1003,    // a = entry ordinal, b = entry count
  PG_INSTALL_BEGIN = 1004,  // a = entry ordinal, b = entry count
  PG_INSTALL_END = 1005,    // a = entry ordinal, b = entry count
};
