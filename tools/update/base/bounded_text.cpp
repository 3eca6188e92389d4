#include "update/base/bounded_text.h"

#include "update/base/log_text.h"
#include "update/base/text_format.h"

bool FormatFitted(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  bool fitted = FormatFittedV(buffer, size, format, args);
  va_end(args);
  return fitted;
}

bool FormatFittedV(char* buffer, size_t size, const char* format, va_list args) {
  if (size == 0) return false;
  // Measured on a copy first: some runtimes report a cut only as -1.
  va_list measure;
  va_copy(measure, args);
  int needed = FormatMeasured(nullptr, 0, format, measure);
  va_end(measure);
  FormatBounded(buffer, size, format, args);
  return needed >= 0 && static_cast<size_t>(needed) < size;
}
