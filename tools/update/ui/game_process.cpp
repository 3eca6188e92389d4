#include "update/ui/game_process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "update/files/win32_handle.h"

bool IsGameProcessName(const char* exeFileName) {
  return std::strcmp(exeFileName, "Game.exe") == 0 || std::strcmp(exeFileName, "Game_08d.exe") == 0;
}

bool IsGameRunning() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more;
       more = Process32Next(snapshot.Get(), &entry)) {
    if (IsGameProcessName(entry.szExeFile)) return true;
  }
  return false;
}
