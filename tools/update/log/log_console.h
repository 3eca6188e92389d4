// The console echo: standard output as found at start-up, and the three
// colours derived from its attributes.
#pragma once

#include <windows.h>

class LogConsole {
 public:
  LogConsole();
  // Takes the process's standard output. False when there is none; the
  // colours stay meaningless (and harmless) when it is not a console.
  bool Init();
  bool IsOpen() const { return handle != INVALID_HANDLE_VALUE && handle != NULL; }
  void SetColour(WORD attributes) const;
  void WriteText(const char* text, DWORD length) const;

  HANDLE handle;
  WORD defaultAttr;
  WORD warnAttr;
  WORD errorAttr;
};
