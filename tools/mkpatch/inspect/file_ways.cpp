#include "mkpatch/inspect/file_ways.h"

#include "mkpatch/fs/name_encoding.h"
#include "update/format/entry_group.h"

namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

// The builds a delta's source comes from. A patch from one old build names
// none (format 1): its source is the base build, the list's only name.
std::vector<std::string> SourceBuilds(const EntryDescriptor& d, const PatchBuilds& builds) {
  return NamedBuilds(builds, d.sourceBuilds != 0 ? d.sourceBuilds : 1);
}

}  // namespace

std::vector<FileWay> DescribeWays(const InstallPlan& plan, const std::vector<PayloadEntry>& table,
                                  const std::vector<EntryDetail>& details,
                                  const PatchBuilds& builds, InstalledGame& game) {
  std::vector<FileWay> files;
  const EntryGroups groups = GroupEntries(table, details);
  for (uint32_t first = 0; first < table.size(); ++first) {
    if (groups.first[first] != first) continue;
    FileWay file;
    file.path = GbkForDisplay(details[first].descriptor.path);
    uint32_t start = NO_ENTRY;
    for (uint32_t i = first; i != NO_ENTRY; i = groups.next[i]) {
      if (plan.entries[i].startsWay) start = i;
    }
    if (plan.entries[first].action == InstallAction::Same) {
      file.found = FoundBytes::NewBytes;
    } else if (start != NO_ENTRY && details[start].descriptor.coding == EntryCoding::Delta) {
      file.found = FoundBytes::Build;
      file.builds = SourceBuilds(details[start].descriptor, builds);
    } else {
      const GamePathInfo info = game.Look(details[first].descriptor.path, false);
      file.found = info.state == GamePathState::Missing ? FoundBytes::Missing : FoundBytes::Other;
    }
    for (uint32_t i = start; i != NO_ENTRY && file.found != FoundBytes::NewBytes;
         i = plan.entries[i].next) {
      const EntryDescriptor& d = details[i].descriptor;
      WayStep step;
      step.entry = i;
      if (d.coding != EntryCoding::Delta) {
        step.kind = "whole";
      } else {
        step.kind = d.IsStep() ? "step" : "delta";
        step.from = SourceBuilds(d, builds);
        const uint32_t next = plan.entries[i].next;
        if (d.IsStep() && next != NO_ENTRY)
          step.to = SourceBuilds(details[next].descriptor, builds);
      }
      file.way.push_back(step);
    }
    files.push_back(file);
  }
  return files;
}

const char* FoundBytesName(FoundBytes found) {
  switch (found) {
    case FoundBytes::NewBytes:
      return "new";
    case FoundBytes::Build:
      return "build";
    case FoundBytes::Missing:
      return "missing";
    case FoundBytes::Other:
      return "other";
  }
  return "other";
}

std::string FileWayText(const FileWay& file) {
  std::string text = file.path + ": ";
  switch (file.found) {
    case FoundBytes::NewBytes:
      return text + "the new bytes already; nothing to do";
    case FoundBytes::Build:
      text += (file.builds.size() == 1 ? "the bytes of build " : "the bytes of builds ") +
              Joined(file.builds);
      break;
    case FoundBytes::Missing:
      text += "missing";
      break;
    case FoundBytes::Other:
      text += "bytes no delta of the patch was made from";
      break;
  }
  if (file.way.empty()) return text + "; no way to the new bytes (the updater refuses)";
  text += "; ";
  for (size_t i = 0; i < file.way.size(); ++i) {
    const WayStep& step = file.way[i];
    if (i > 0) text += ", ";
    if (step.kind == "whole") {
      text += "the whole file";
    } else {
      text += step.kind + " " + Joined(step.from) + " -> " +
              (step.kind == "step" ? Joined(step.to) : std::string("new"));
    }
  }
  return text;
}
