#include "update/log/seh_exception.h"

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
// structured-exception dispatch. The outcome the translator gives with MSVC
// (an exception nobody catches, so the process ends) is produced directly:
// a vectored handler ends the process when a hardware fault hits a queue
// thread inside this program's own code. Faults raised and handled inside
// system libraries are left alone. Relying on the last-chance filter alone
// is not enough: under Wine with an emulator the process was seen to carry
// on after the faulting thread was gone.
namespace {

// Marks queue threads; set once per process.
DWORD g_queueThreadSlot = TLS_OUT_OF_INDEXES;
INIT_ONCE g_registerOnce = INIT_ONCE_STATIC_INIT;

bool IsHardwareFault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      return true;
    default:
      return false;
  }
}

bool InOwnImage(const void* address) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
             static_cast<LPCSTR>(address), &module) &&
         module == GetModuleHandleA(nullptr);
}

LONG CALLBACK EndOnQueueThreadFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (TlsGetValue(g_queueThreadSlot) && IsHardwareFault(record->ExceptionCode) &&
      InOwnImage(record->ExceptionAddress)) {
    TerminateProcess(GetCurrentProcess(), record->ExceptionCode);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

BOOL CALLBACK RegisterFaultHandler(PINIT_ONCE, PVOID, PVOID*) {
  g_queueThreadSlot = TlsAlloc();
  if (g_queueThreadSlot == TLS_OUT_OF_INDEXES) return FALSE;
  AddVectoredExceptionHandler(1, EndOnQueueThreadFault);
  return TRUE;
}

}  // namespace

void InstallSehTranslator() {
  if (InitOnceExecuteOnce(&g_registerOnce, RegisterFaultHandler, nullptr, nullptr)) {
    TlsSetValue(g_queueThreadSlot, reinterpret_cast<void*>(1));
  }
}
#endif
