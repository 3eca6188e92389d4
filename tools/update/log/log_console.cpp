#include "update/log/log_console.h"

#include "update/log/log_file.h"

LogConsole::LogConsole()
    : handle(INVALID_HANDLE_VALUE), defaultAttr(0), warnAttr(0), errorAttr(0) {}

bool LogConsole::Init() {
  handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(handle, &info)) defaultAttr = info.wAttributes;
  warnAttr = static_cast<WORD>((defaultAttr & 0xF0) | 0x0E);
  errorAttr = static_cast<WORD>((defaultAttr & 0xF0) | 0x0C);
  return true;
}

void LogConsole::SetColour(WORD attributes) const {
  if (IsOpen()) SetConsoleTextAttribute(handle, attributes);
}

void LogConsole::WriteText(const char* text, DWORD length) const {
  if (IsOpen()) WriteAll(handle, text, length);
}
