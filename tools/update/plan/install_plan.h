// What a run will do with each entry of a payload in one game directory,
// settled before its first write: the file each entry writes or removes,
// whether it already holds the new bytes, whether a delta's installed source
// is the build the patch was made from, and what stands in the way. The
// updater refuses a run on the problems it checks before writing (the
// refusals below); mkpatch check also reports the ones that would make the
// run fail on its way. One planner, so that the two never disagree. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/base/byte_source.h"
#include "update/format/entry_detail.h"
#include "update/format/entry_group.h"
#include "update/plan/installed_game.h"

enum class InstallAction : uint8_t {
  Package,   // handed to the game's launcher
  New,       // a file written where none is
  Replace,   // a file written over other bytes
  Same,      // the file already holds what the entry makes: left as it is
  Patch,     // a delta applied to the installed file it was made from
  Mismatch,  // a delta whose installed file is not the one it was made from
  Link,      // a link where the entry writes or removes
  Remove,    // a removal of a file that holds the old build's bytes
  Keep,      // a removal that leaves a file the player changed
  Gone,      // a removal of a file that is not there
  Skip,      // nothing for this installation: the updater passes the entry by
};

// "package", "new", "replace", "same", "patch", "mismatch", "link",
// "remove", "keep", "gone", "skip".
const char* InstallActionName(InstallAction action);

enum class PlanProblemKind : uint8_t {
  // Refusals: the updater checks these before it writes anything.
  SourceMismatch,    // a delta's installed source is missing or other bytes (exit code 5)
  Link,              // a link on the way to a file the run writes or removes (exit code 5)
  PathTooLong,       // the updater cannot hold the path (exit code 1)
  SourceUnreadable,  // a delta's installed source cannot be read (exit code 1)
  WrongOrder,        // an earlier entry writes the file a later delta reads (exit code 1)
  BrokenGroup,       // the way to a file's new bytes ends in a step (exit code 1)
  // Failures the run would meet on its way (mkpatch check predicts them).
  NoLauncher,         // a package, and no launcher to take it
  NotGbk,             // a path that is not code page 936 text
  Blocked,            // a file where a directory is needed
  DirectoryInTheWay,  // a directory where the entry writes a file
  ReadOnly,           // a read-only or hidden file the entry replaces or removes
  Unreadable,         // an installed file that cannot be read
  PayloadUnreadable,  // the updater file itself cannot be read
};

// Whether the updater refuses the run for this problem before writing.
bool IsRefusal(PlanProblemKind kind);

struct PlanProblem {
  PlanProblemKind kind = PlanProblemKind::SourceMismatch;
  uint32_t entry = 0;        // index of the entry
  uint32_t writer = 0;       // WrongOrder: index of the earlier entry that writes the file
  std::string path;          // GBK, relative to the game directory
  GamePathInfo found;        // what stands there (the link, for Link)
  uint32_t systemError = 0;  // SourceUnreadable, Unreadable
  // SourceMismatch of a file with other bytes: what it holds.
  bool foundKnown = false;
  unsigned char foundMd5[16] = {};
};

// Each file's way to its new bytes begins at one entry (`startsWay`): a
// plain entry, a file written whole, or a delta whose source is installed,
// followed (`next`) by the steps of its file up to the new bytes. The
// entries of a file that its way does not take are Skip.
struct PlannedEntry {
  EntryKind kind = EntryKind::Package;
  std::string destination;  // GBK, relative; empty for a package
  std::string source;       // where the delta that starts a way reads, relative; else empty
  InstallAction action = InstallAction::Package;
  bool startsWay = false;
  uint32_t next = NO_ENTRY;  // the way's next entry
};

struct InstallPlan {
  std::vector<PlannedEntry> entries;  // one per entry, in payload order
  std::vector<PlanProblem> problems;  // in the order they were found
};

// Plans the entries of `table` (`details` from ReadEntryDetails of `payload`)
// against `game`, as far as the updater's refusals need. Entries are
// installed in payload order and removals after all of them; an entry whose
// destination an earlier entry writes is judged against what that entry
// leaves there.
InstallPlan PlanInstall(ByteSource& payload, const std::vector<PayloadEntry>& table,
                        const std::vector<EntryDetail>& details, InstalledGame& game);

// The same plan with everything mkpatch check reports as well: plain entries
// compared with the installed files, removals judged, and the failures a run
// would meet on its way.
InstallPlan PredictInstall(ByteSource& payload, const std::vector<PayloadEntry>& table,
                           const std::vector<EntryDetail>& details, InstalledGame& game);
