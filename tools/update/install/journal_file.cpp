#include "update/install/journal_file.h"

#include <windows.h>

#include <string>

#include "update/base/bounded_format.h"
#include "update/files/file_retry.h"
#include "update/files/win32_handle.h"

namespace {

// A journal holds a few hundred bytes a file: this is far past any patch's.
constexpr DWORD kJournalLimit = 64u << 20;

bool ComposeIn(const char* gameDir, const char* name, char (&path)[UPDATE_PATH_SIZE]) {
  return FormatFitted(path, sizeof path, "%s\\%s", gameDir, name);
}

}  // namespace

JournalRead ReadJournal(const char* gameDir, CommitJournal* journal,
                        char (&path)[UPDATE_PATH_SIZE]) {
  if (!ComposeIn(gameDir, COMMIT_JOURNAL_NAME, path)) return JournalRead::None;
  UniqueHandle file;
  const SystemResult opened =
      RetryingCreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, &file);
  if (!opened) {
    const DWORD error = opened.Error();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? JournalRead::None
                                                                          : JournalRead::Damaged;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kJournalLimit) {
    return JournalRead::Damaged;
  }
  std::string text(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!text.empty() &&
      (!ReadFile(file.Get(), &text[0], static_cast<DWORD>(text.size()), &got, nullptr) ||
       got != text.size())) {
    return JournalRead::Damaged;
  }
  return ParseJournal(text, journal) ? JournalRead::Read : JournalRead::Damaged;
}

SystemResult WriteJournal(const char* gameDir, const CommitJournal& journal) {
  char path[UPDATE_PATH_SIZE];
  char scratch[UPDATE_PATH_SIZE];
  if (!ComposeIn(gameDir, COMMIT_JOURNAL_NAME, path) ||
      !ComposeIn(gameDir, COMMIT_JOURNAL_SCRATCH_NAME, scratch)) {
    return SystemResult::Failed(ERROR_FILENAME_EXCED_RANGE);
  }
  const std::string text = FormatJournal(journal);
  FileRetry retry(scratch, path);
  UniqueHandle file;
  SystemResult result = retry.Run([&] {
    file.Reset(CreateFileA(scratch, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return file.IsValid();
  });
  if (result) {
    DWORD written = 0;
    // On disk before it takes the journal's place: it is what a crash finds.
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        !FlushFileBuffers(file.Get())) {
      result = SystemResult::OfLastError();
    } else if (written != text.size()) {
      result = SystemResult::Failed(ERROR_HANDLE_DISK_FULL);
    }
  }
  if (!file.Close() && result) result = SystemResult::OfLastError();
  if (result) {
    result = retry.Run([&] {
      return MoveFileExA(scratch, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
             FALSE;
    });
  }
  if (!result) (void)RetryingDeleteFile(scratch);
  return result;
}

SystemResult RemoveJournal(const char* gameDir) {
  char path[UPDATE_PATH_SIZE];
  if (!ComposeIn(gameDir, COMMIT_JOURNAL_NAME, path)) return SystemResult::Ok();
  const SystemResult removed = RetryingDeleteFile(path);
  return removed || removed.Error() == ERROR_FILE_NOT_FOUND ? SystemResult::Ok() : removed;
}
