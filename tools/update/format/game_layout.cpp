#include "update/format/game_layout.h"

#include "update/base/ascii_case.h"

bool IsPackageName(const std::string& extractName) {
  return extractName.size() >= 4 &&
         EqualsIgnoringAsciiCase(extractName.substr(extractName.size() - 4), ".tpk");
}
