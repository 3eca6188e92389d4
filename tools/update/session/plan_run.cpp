#include "update/session/plan_run.h"

#include "update/base/bounded_format.h"
#include "update/format/entry_group.h"
#include "update/plan/space_needs.h"
#include "update/session/file_failure.h"
#include "update/session/free_space_check.h"
#include "update/session/game_files.h"
#include "update/session/read_patch.h"

namespace {

const char kTextPathTooLong[] = "错误的文件路径:参数 %d %d";
const char kTextOrderWrong[] = "错误的文件顺序:参数 %d %d";

void ComposeTarget(const char* gameDir, const std::string& relative,
                   char (&path)[UPDATE_PATH_SIZE]) {
  if (!relative.empty()) FormatFitted(path, sizeof path, "%s\\%s", gameDir, relative.c_str());
}

// The whole path of a problem's file, as the texts name it.
void WholePath(const char* gameDir, const PlanProblem& problem, char (&path)[UPDATE_PATH_SIZE]) {
  if (!problem.found.local.empty()) {
    FormatFitted(path, sizeof path, "%s", problem.found.local.c_str());
  } else {
    ComposeTarget(gameDir, problem.path, path);
  }
}

// The failure of the first refusal, with the exit code it means.
void Refuse(const char* gameDir, const PlanProblem& problem, RunChecks& checks,
            RunFailure& failure) {
  char path[UPDATE_PATH_SIZE] = {};
  WholePath(gameDir, problem, path);
  switch (problem.kind) {
    case PlanProblemKind::SourceMismatch:
    case PlanProblemKind::Link:
      checks.sourcesOk = false;
      SetSourceMismatch(failure, path);
      return;
    case PlanProblemKind::PathTooLong:
      failure.Set(ERROR_FILE_CORRUPT, kTextPathTooLong, static_cast<int>(problem.entry + 1),
                  static_cast<int>(problem.found.pathLength));
      return;
    case PlanProblemKind::SourceUnreadable:
      SetReadFailure(failure, path, problem.systemError);
      return;
    case PlanProblemKind::WrongOrder:
      failure.Set(ERROR_FILE_CORRUPT, kTextOrderWrong, static_cast<int>(problem.entry + 1),
                  static_cast<int>(problem.writer + 1));
      return;
    case PlanProblemKind::BrokenGroup:
      // As the group checks at reading name a broken group.
      failure.Set(ERROR_FILE_CORRUPT, DESCRIPTOR_BAD_TEXT, static_cast<int>(problem.entry + 1),
                  static_cast<int>(DescriptorError::BrokenGroup));
      return;
    default:
      return;
  }
}

}  // namespace

bool PlanRun(const char* gameDir, OwnFileSource& source, const PatchContents& patch, RunPlan* plan,
             RunChecks& checks, RunFailure& failure) {
  GameFiles game(gameDir);
  plan->install = PlanInstall(source, patch.table.entries, patch.details, game);
  for (const PlanProblem& problem : plan->install.problems) {
    if (!IsRefusal(problem.kind)) continue;
    Refuse(gameDir, problem, checks, failure);
    return false;
  }
  const std::vector<PayloadEntry>& entries = patch.table.entries;
  plan->targets = std::vector<EntryTarget>(entries.size());
  for (size_t index = 0; index < entries.size(); ++index) {
    const PlannedEntry& planned = plan->install.entries[index];
    EntryTarget& target = plan->targets[index];
    ComposeTarget(gameDir, planned.destination, target.path);
    if (patch.details[index].HasDescriptor()) {
      ComposeTarget(gameDir, planned.source, target.source);
      target.installed = planned.action == InstallAction::Same;
    }
  }
  const std::vector<EntrySpace> spaces = SpacesOfPlan(entries, patch.details, plan->install);
  // Still before the first write: a disk too small is refused, not filled.
  if (!CheckFreeSpace(spaces, gameDir, failure)) {
    checks.spaceOk = false;
    return false;
  }
  return true;
}
