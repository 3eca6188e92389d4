// What an update run would do with each entry of a payload in one game
// directory, found without writing anything: the dry run of `mkpatch check`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "payload_table.h"

enum class InstallAction { Package, New, Replace, Same };

// "package", "new", "replace", "same".
const char* InstallActionName(InstallAction action);

struct PlannedInstall {
  std::string name;  // extraction name, GBK
  bool package = false;
  std::string destination;  // GBK file name in the game directory; plain files only
  InstallAction action = InstallAction::Package;
};

struct InstallPlan {
  std::vector<PlannedInstall> entries;
  // Why the updater would fail to install: a directory or a read-only file
  // where a plain file goes, a missing launcher for a package.
  std::vector<std::string> refusals;
};

// `updater` is the open updater file the entries were read from; destinations
// are compared with its bytes by streaming both. An entry whose destination an
// earlier entry of the same run already wrote is compared with that entry.
InstallPlan PlanInstall(FILE* updater, const std::vector<PayloadEntry>& entries,
                        const std::string& gameDir);
