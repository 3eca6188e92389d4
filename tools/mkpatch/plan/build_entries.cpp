#include "mkpatch/plan/build_entries.h"

#include "mkpatch/fs/file_system.h"
#include "mkpatch/fs/name_encoding.h"
#include "mkpatch/inspect/name_clash.h"
#include "update/format/entry_name.h"
#include "update/format/payload.h"

namespace {

bool AddEntry(const std::string& utf8Name, const std::string& path,
              std::vector<BuildEntry>* entries, std::vector<std::string>* problems) {
  BuildEntry entry;
  entry.displayName = utf8Name.empty() ? std::string(PATCH_TOPLEVEL_NAME) : utf8Name;
  entry.path = path;
  if (!Utf8ToGbk(utf8Name, &entry.name)) {
    problems->push_back("entry name " + utf8Name + " cannot be written in code page 936");
    return false;
  }
  if (entry.name.size() >= PATCH_NAME_FIELD_SIZE) {
    problems->push_back("entry name " + utf8Name + " is " + std::to_string(entry.name.size()) +
                        " bytes in code page 936; the limit is 79");
    return false;
  }
  if (const char* problem = EntryNameProblem(entry.name.c_str(), entry.name.size() + 1)) {
    problems->push_back("entry name " + utf8Name + " is refused by the updater: " + problem);
    return false;
  }
  UniqueFile file = OpenFile(path, "rb");
  if (!file || !FileSize(file.Get(), &entry.size)) {
    problems->push_back("cannot read " + path);
    return false;
  }
  entries->push_back(entry);
  return true;
}

std::string WithBackslashes(std::string relative) {
  for (char& c : relative) {
    if (c == '/') c = '\\';
  }
  return relative;
}

}  // namespace

bool PlanBuildEntries(const std::vector<BuildInput>& inputs, std::vector<BuildEntry>* entries,
                      std::vector<std::string>* problems) {
  entries->clear();
  size_t problemsBefore = problems->size();
  for (const BuildInput& input : inputs) {
    if (input.named) {
      if (!IsRegularFile(input.path)) {
        problems->push_back("--name " + input.name + ": " + input.path + " is not a file");
      } else {
        AddEntry(input.name, input.path, entries, problems);
      }
    } else if (IsDirectory(input.path)) {
      std::vector<std::string> files, others;
      std::string error;
      if (!ListFilesBelow(input.path, &files, &others, &error)) {
        problems->push_back(error);
        continue;
      }
      for (const std::string& relative : others) {
        problems->push_back("cannot read " + JoinPath(input.path, relative) +
                            ": neither a file nor a directory");
      }
      for (const std::string& relative : files) {
        AddEntry(WithBackslashes(relative), JoinPath(input.path, relative), entries, problems);
      }
    } else if (IsRegularFile(input.path)) {
      AddEntry(BaseName(input.path), input.path, entries, problems);
    } else {
      problems->push_back("no such file or directory: " + input.path);
    }
  }
  std::vector<std::string> names;
  for (const BuildEntry& entry : *entries) names.push_back(entry.name);
  for (const std::string& clash : FindNameClashes(names)) problems->push_back(clash);
  return problems->size() == problemsBefore;
}
