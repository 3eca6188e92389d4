// Installing one extracted entry: a game package through the game's launcher,
// any other file by putting it into the game directory.
#include <windows.h>

#include <cstring>

#include "update/base/bounded_format.h"
#include "update/base/gbk_text.h"
#include "update/files/replace_whole_file.h"
#include "update/session/progress_report.h"
#include "update/session/update_session.h"

namespace {

bool InstallPlainFile(const char* extractedPath, const char* gameDir) {
  // Only the last component counts: every plain file lands directly in the
  // game directory, whichever separator the entry's name used.
  const char* separator = FindLastSeparator(extractedPath, "\\/");
  const char* fileName = separator != nullptr ? separator + 1 : extractedPath;
  char destination[UPDATE_PATH_SIZE];
  if (!FormatFitted(destination, sizeof destination, "%s\\%s", gameDir, fileName)) return false;
  return ReplaceWholeFile(extractedPath, destination).Succeeded();
}

}  // namespace

int UpdateSession::InstallEntry(const char* extractedPath, const char* entryName, uint32_t ordinal,
                                uint32_t entryCount) {
  // The extracted path alone decides how a plain entry is installed: the
  // extension is looked for in the whole path, as the run hands it over.
  (void)entryName;
  return InstallExtracted(extractedPath, IsPackageName(extractedPath), ordinal, entryCount);
}

int UpdateSession::InstallExtracted(const char* extractedPath, bool package, uint32_t ordinal,
                                    uint32_t entryCount) {
  ReportProgress(PG_INSTALL_BEGIN, ordinal, entryCount);
  bool installed = package ? RunLauncher(extractedPath, gameDir) == LAUNCHER_ENDED
                           : InstallPlainFile(extractedPath, gameDir);
  if (installed) ReportProgress(PG_INSTALL_END, ordinal, entryCount);
  return installed ? 1 : 0;
}
