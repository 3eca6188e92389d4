#include "mkpatch/inspect/plan_reasons.h"

#include "mkpatch/fs/name_encoding.h"
#include "update/format/entry_descriptor.h"
#include "update/format/payload_digest.h"

namespace {

const char kNotTheBuild[] =
    "; the updater refuses with exit code 5 (the installed files are not the build this patch "
    "was made from)";

std::string Shown(const std::string& gbk) { return GbkForDisplay(gbk); }

std::string EntryShown(const std::vector<PayloadEntry>& table, uint32_t index) {
  return "entry " + std::to_string(index + 1) + " (" + Shown(table[index].name) + ")";
}

std::string SourceMismatch(const PlanProblem& problem, const EntryDescriptor& d) {
  const std::string shown = Shown(problem.path);
  switch (problem.found.state) {
    case GamePathState::Directory:
      return shown + " in the game directory is a directory; the patch has a delta for a file" +
             kNotTheBuild;
    case GamePathState::File:
      return shown + " in the game directory is not the file the delta was made from (" +
             std::to_string(problem.found.size) + " bytes" +
             (problem.foundKnown ? ", md5 " + DigestHex(problem.foundMd5) : std::string()) +
             "; the delta needs " + std::to_string(d.sourceSize) + " bytes, md5 " +
             DigestHex(d.sourceMd5) + ")" + kNotTheBuild;
    default:
      return shown + " is missing from the game directory; the patch has only a delta for it" +
             kNotTheBuild;
  }
}

std::string Reason(const PlanProblem& problem, const std::vector<PayloadEntry>& table,
                   const std::vector<EntryDetail>& details) {
  const EntryDetail& detail = details[problem.entry];
  const std::string shown = Shown(problem.path);
  const bool removal = detail.HasDescriptor() && detail.descriptor.kind == EntryKind::Removal;
  switch (problem.kind) {
    case PlanProblemKind::SourceMismatch:
      return SourceMismatch(problem, detail.descriptor);
    case PlanProblemKind::Link:
      // A file written whole is refused at its path; a delta or a removal
      // where its file (or its source) lies.
      if (detail.HasDescriptor() && !removal && detail.descriptor.coding != EntryCoding::Delta) {
        return problem.found.local + " is a symbolic link; the updater will not write " + shown +
               " through it" + kNotTheBuild;
      }
      return problem.found.local + " is a symbolic link, where the patch changes " + shown +
             kNotTheBuild;
    case PlanProblemKind::PathTooLong:
      return shown + " is too long for the updater's paths (" +
             std::to_string(problem.found.pathLength) + " bytes)";
    case PlanProblemKind::SourceUnreadable:
    case PlanProblemKind::Unreadable:
      return "cannot read " + shown + " in the game directory";
    case PlanProblemKind::WrongOrder:
      return EntryShown(table, problem.entry) + " applies a delta to " + shown + ", which " +
             EntryShown(table, problem.writer) +
             " writes before it; the updater refuses the patch (exit code 1)";
    case PlanProblemKind::BrokenGroup:
      return EntryShown(table, problem.entry) +
             ": descriptor: " + DescriptorErrorText(DescriptorError::BrokenGroup) +
             "; the updater refuses the patch (exit code 1)";
    case PlanProblemKind::NoLauncher:
      return "the game's launcher launch/launch.exe is missing; the updater cannot install " +
             Shown(table[problem.entry].name);
    case PlanProblemKind::NotGbk:
      return shown + " is not code page 936 text";
    case PlanProblemKind::Blocked:
      return problem.found.local + " is a file where " + shown + " needs a directory";
    case PlanProblemKind::DirectoryInTheWay:
      return shown + " in the game directory is a directory; the updater cannot put " +
             Shown(table[problem.entry].name) + " there";
    case PlanProblemKind::ReadOnly:
      return shown + " in the game directory is read-only or hidden; the updater will not " +
             (removal ? "remove" : "replace") + " it";
    case PlanProblemKind::PayloadUnreadable:
      return "cannot read the updater file";
  }
  return "unknown problem";
}

}  // namespace

std::vector<std::string> PlanReasons(const InstallPlan& plan,
                                     const std::vector<PayloadEntry>& table,
                                     const std::vector<EntryDetail>& details) {
  std::vector<std::string> reasons;
  for (const PlanProblem& problem : plan.problems) {
    reasons.push_back(Reason(problem, table, details));
  }
  return reasons;
}
