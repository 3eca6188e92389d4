// The two versions a patch moves between, as `build` and `diff` take them.
#pragma once

#include <ostream>
#include <string>

// False, with one message per fault, for versions the updater cannot use:
// not four numbers, too long for the trailer, or a base above the target as
// the updater compares them. Says on `err` when the target leaves no room for
// the payload digest (the file is then built without one).
bool CheckBuildVersions(const std::string& base, const std::string& target, std::ostream& err);
