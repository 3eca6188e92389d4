#include "update/format/version_gate.h"

#include <climits>

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One "%d" conversion: optional blanks and sign, then at least one digit. An
// out-of-range number wraps like a 32-bit int (the C library leaves it
// undefined), so the updater's arithmetic stays defined for any text.
bool ScanNumber(const char** cursor, uint32_t* number) {
  const char* p = *cursor;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!IsDigit(*p)) return false;
  uint32_t value = 0;
  while (IsDigit(*p)) value = value * 10u + static_cast<uint32_t>(*p++ - '0');
  *number = negative ? 0u - value : value;
  *cursor = p;
  return true;
}

// How many of the four numbers a "%d.%d.%d.%d" scan would assign.
int ScanVersion(const char* text, uint32_t (&numbers)[4]) {
  const char* p = text;
  int found = 0;
  while (found < 4) {
    if (found > 0) {
      if (*p != '.') break;
      ++p;
    }
    if (!ScanNumber(&p, &numbers[found])) break;
    ++found;
  }
  return found;
}

}  // namespace

bool ParseVersionValue(const char* text, uint32_t* value) {
  uint32_t numbers[4] = {0, 0, 0, 0u - 1u};
  if (ScanVersion(text, numbers) < 3) return false;
  *value = numbers[0] * 1000000000u + numbers[1] * 1000000u + numbers[2] * 1000u + numbers[3];
  return true;
}

bool IsVersionInRange(const char* installed, const char* base, const char* target) {
  uint32_t installedValue, baseValue, targetValue;
  if (!ParseVersionValue(installed, &installedValue) || !ParseVersionValue(base, &baseValue) ||
      !ParseVersionValue(target, &targetValue)) {
    return false;
  }
  return baseValue <= installedValue && installedValue <= targetValue;
}

bool IsWellFormedVersion(const char* text) {
  const char* p = text;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *p++ != '.') return false;
    if (!IsDigit(*p)) return false;
    uint64_t number = 0;
    while (IsDigit(*p)) {
      number = number * 10 + static_cast<uint64_t>(*p++ - '0');
      if (number > static_cast<uint64_t>(INT_MAX)) return false;
    }
  }
  return *p == '\0';
}
