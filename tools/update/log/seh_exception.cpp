#include "seh_exception.h"

#include <string.h>

#ifdef _MSC_VER
#include <eh.h>
#endif

SHException::SHException(unsigned int code, const EXCEPTION_POINTERS* pointers) : code(code) {
  memset(&record, 0, sizeof(record));
  memset(&context, 0, sizeof(context));
  if (pointers && pointers->ExceptionRecord) record = *pointers->ExceptionRecord;
  if (pointers && pointers->ContextRecord) context = *pointers->ContextRecord;
}

#ifdef _MSC_VER
namespace {
// Needs /EHa so that the throw unwinds through the frames of the handler.
void TranslateHardwareException(unsigned int code, EXCEPTION_POINTERS* pointers) {
  throw SHException(code, pointers);
}
}  // namespace

void InstallSehTranslator() { _set_se_translator(TranslateHardwareException); }
#else
// GCC/MinGW cannot turn a hardware exception into a C++ exception: there is
// no _set_se_translator there, and its exceptions cannot be thrown out of a
// structured-exception dispatch. Nothing is installed on purpose. A fault in
// a handler then goes unhandled to the system's last-chance filter, which
// ends the process, the same outcome as an uncaught SHException. A vectored
// handler is not used because it would also see faults that system code
// raises and handles itself, and would kill the process for those.
void InstallSehTranslator() {}
#endif
