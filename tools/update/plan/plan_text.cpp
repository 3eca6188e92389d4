// The planner's actions in words, for mkpatch check. A file of its own: the
// updater never names them, and does not carry the texts.
#include "update/plan/install_plan.h"

const char* InstallActionName(InstallAction action) {
  switch (action) {
    case InstallAction::Package:
      return "package";
    case InstallAction::New:
      return "new";
    case InstallAction::Replace:
      return "replace";
    case InstallAction::Same:
      return "same";
    case InstallAction::Patch:
      return "patch";
    case InstallAction::Mismatch:
      return "mismatch";
    case InstallAction::Link:
      return "link";
    case InstallAction::Remove:
      return "remove";
    case InstallAction::Keep:
      return "keep";
    case InstallAction::Gone:
      return "gone";
    case InstallAction::Skip:
      return "skip";
  }
  return "package";
}
