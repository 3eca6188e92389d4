// What an updater process wrote to its daily log files: the tests read it to
// see how far a run has come (a file it waits for, a file it gave up) and
// what it said it did.
#pragma once

#include <windows.h>

#include <string>

#include "updater_driver.h"

// Everything the updater process `updater` logged: its daily files
// (Log\<program>_<pid>_<date>.log beside the test, where the updater started
// from here writes them) one after the other.
std::string LogText(const UpdaterProcess& updater);

bool Logged(const UpdaterProcess& updater, const std::string& text);

// Waits until `updater` has logged `text`; false when it ended first or
// `timeoutMs` passed.
bool WaitForLogLine(const UpdaterProcess& updater, const std::string& text, DWORD timeoutMs);
