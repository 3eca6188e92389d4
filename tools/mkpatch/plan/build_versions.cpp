#include "mkpatch/plan/build_versions.h"

#include "update/format/payload.h"
#include "update/format/payload_digest.h"
#include "update/format/version_gate.h"

bool CheckBuildVersions(const std::string& base, const std::string& target, std::ostream& err) {
  bool sound = true;
  for (const std::string* version : {&base, &target}) {
    if (!IsWellFormedVersion(version->c_str())) {
      err << "mkpatch: version \"" << *version
          << "\" is not four decimal numbers like 1.4.1.34242\n";
      sound = false;
    }
  }
  if (!sound) return false;
  for (const std::string* version : {&base, &target}) {
    // The field would cut it silently into some other version.
    if (version->size() >= PATCH_VERSION_FIELD_SIZE) {
      err << "mkpatch: version \"" << *version << "\" is longer than "
          << PATCH_VERSION_FIELD_SIZE - 1 << " bytes\n";
      sound = false;
    }
  }
  if (!sound) return false;
  uint32_t baseValue = 0, targetValue = 0;
  ParseVersionValue(base.c_str(), &baseValue);
  ParseVersionValue(target.c_str(), &targetValue);
  if (baseValue > targetValue) {
    err << "mkpatch: base version " << base << " is above target version " << target
        << " as the updater compares them (" << baseValue << " > " << targetValue << ")\n";
    return false;
  }
  if (target.size() > PAYLOAD_DIGEST_MAX_VERSION) {
    err << "mkpatch: target version \"" << target << "\" is longer than "
        << PAYLOAD_DIGEST_MAX_VERSION
        << " bytes: no room for the payload digest after it; building without one\n";
  }
  return true;
}
