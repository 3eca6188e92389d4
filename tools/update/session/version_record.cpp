// After a successful run: the installed version and the fingerprint of the
// updater that brought it, in the game's configuration. Nothing here is shown
// to the user (the run has already succeeded); a record that could not be
// written is reported to the caller, which makes it the program's exit code.
#include <windows.h>

#include <cstdio>
#include <string>

#include "update/base/bounded_format.h"
#include "update/base/md5.h"
#include "update/files/file_retry.h"
#include "update/session/host_hooks.h"
#include "update/session/update_session.h"

namespace {

// The profile functions cannot write a read-only file; the game's installer
// or a copy from a disc may have left it so. Other attributes stay.
void ClearReadOnly(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
  attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  // A failure shows when the record is written.
  (void)RetryingSetFileAttributes(path, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
}

// The profile functions rewrite the whole file; a sync client or indexer
// holding it is waited for like any other write, within the file's budget.
bool WriteProfileValue(FileRetry& retry, const char* key, const char* value, const char* path) {
  return retry
      .Run([&] { return WritePrivateProfileStringA(VERSION_SECTION, key, value, path) != FALSE; })
      .Succeeded();
}

// 32 lowercase hex digits of the updater's own file, or empty. The run's
// digest pass has read every byte of it already; that digest stands while the
// path names the same file, unwritten since. Under Wine, as under Windows, a
// running program's file cannot be opened for writing (nor deleted), but it
// can be renamed and another file put in its place: that one is read here.
std::string OwnFileDigest(const StampedDigest& taken) {
  char ownPath[UPDATE_PATH_SIZE] = {};
  uint32_t length = GetOwnPath(ownPath, UPDATE_PATH_SIZE);
  if (length == 0 || length >= UPDATE_PATH_SIZE) return std::string();
  if (taken.DescribesFileAt(ownPath)) return taken.hex;
  DigestReadAhead readAhead;
  FILE* file = OpenForDigest(ownPath, readAhead);
  if (file == nullptr) return std::string();
  MD5 digest(file);  // reads to the end and closes the file
  return digest.hex_digest();
}

}  // namespace

bool UpdateSession::WriteVersionRecord() {
  char clientPath[UPDATE_PATH_SIZE];
  char gamePath[UPDATE_PATH_SIZE];
  // A path that does not fit would name another file; nothing is written then.
  if (!FormatFitted(clientPath, sizeof clientPath, "%s%s", gameDir, GAME_CLIENT_INI_PATH))
    return false;
  ClearReadOnly(clientPath);
  if (FormatFitted(gamePath, sizeof gamePath, "%s%s", gameDir, GAME_CONFIG_INI_PATH))
    ClearReadOnly(gamePath);

  // The version goes first: without a digest it still tells the next run
  // what is installed. A record without the digest is incomplete all the same.
  FileRetry retry(clientPath);
  bool recorded = WriteProfileValue(retry, VERSION_KEY, targetVersion.c_str(), clientPath);
  const StampedDigest taken = ownFileDigest;
  ownFileDigest = StampedDigest();
  std::string digest = OwnFileDigest(taken);
  if (digest.empty()) return false;
  return WriteProfileValue(retry, UPDATER_MD5_KEY, digest.c_str(), clientPath) && recorded;
}
