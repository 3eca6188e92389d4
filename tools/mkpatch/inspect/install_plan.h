// What an update run would do with each entry of a payload in one game
// directory, found without writing anything: the dry run of `mkpatch check`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "mkpatch/inspect/entry_details.h"
#include "update/format/payload_table.h"

enum class InstallAction {
  Package,   // handed to the game's launcher
  New,       // a file written where none is
  Replace,   // a file written over other bytes
  Same,      // the file is already what the entry makes
  Patch,     // a delta applied to the installed file it was made from
  Mismatch,  // a delta whose installed file is not the one it was made from
  Link,      // a symbolic link where the entry installs or removes
  Remove,    // a removal of a file that holds the old build's bytes
  Keep,      // a removal that leaves a file the player changed
  Gone,      // a removal of a file that is not there
};

// "package", "new", "replace", "same", "patch", "mismatch", "link",
// "remove", "keep", "gone".
const char* InstallActionName(InstallAction action);

struct PlannedInstall {
  std::string name;  // extraction name, GBK
  EntryKind kind = EntryKind::Package;
  bool marked = false;  // a descriptor entry
  EntryCoding coding = EntryCoding::Stored;
  std::string destination;  // GBK path in the game directory; empty for packages
  InstallAction action = InstallAction::Package;
};

struct InstallPlan {
  std::vector<PlannedInstall> entries;
  // Why the updater would not install: a directory, a read-only file or a
  // link where a file goes, a missing launcher for a package, installed files
  // that are not the ones a delta was made from.
  std::vector<std::string> refusals;
};

// `updater` is the open updater file the entries were read from, `details`
// their markings and descriptors. Plain entries are compared with the
// installed files by streaming both; descriptor entries by size and MD5. An
// entry whose destination an earlier entry of the same run writes is compared
// with what that entry leaves there; removals are judged last, as the
// updater makes them last.
InstallPlan PlanInstall(FILE* updater, const std::vector<PayloadEntry>& entries,
                        const std::vector<EntryDetail>& details, const std::string& gameDir);
