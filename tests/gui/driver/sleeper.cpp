// Stands in for a running game: the updater only looks at the process name,
// so a program that just waits (copied under the game's name) is enough.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Sleep(10 * 60 * 1000);  // the test ends it long before
  return 0;
}
