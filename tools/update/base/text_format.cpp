#include "update/base/text_format.h"

#include <cstdio>

int FormatMeasured(char* buffer, size_t size, const char* format, va_list args) {
#ifdef _WIN32
  va_list measure;
  va_copy(measure, args);
  const int needed = _vscprintf(format, measure);
  va_end(measure);
  if (size == 0) return needed;
  if (needed < 0) {
    buffer[0] = '\0';
    return needed;
  }
  const size_t room = size - 1;
#ifdef _MSC_VER
  _vsnprintf_s(buffer, size, _TRUNCATE, format, args);
#else
  // Neither terminates nor says how much it cut: both come from `needed`.
  _vsnprintf(buffer, room, format, args);
#endif
  buffer[static_cast<size_t>(needed) < room ? static_cast<size_t>(needed) : room] = '\0';
  return needed;
#else
  return std::vsnprintf(buffer, size, format, args);
#endif
}
