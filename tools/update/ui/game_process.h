// Whether the game is running: updating files it holds open would fail or
// leave the installation half old, half new.
#pragma once

// True for the executable names of the game; the comparison is exact, so
// "game.exe" or "Game.exe.bak" are other programs.
bool IsGameProcessName(const char* exeFileName);

// Walks the system's process list once.
bool IsGameRunning();
