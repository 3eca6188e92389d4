// The game's fixed names and paths, and the rules that follow from them: where
// the installed version is recorded, where the game's launcher lives, which
// entries are game packages. Every program and tool takes them from here.
#pragma once

#include <cstddef>
#include <string>

// Whether the updater hands an entry of this extraction name to the game's
// launcher as a package: a name ending in ".tpk", letters in any case.
bool IsPackageName(const std::string& extractName);
