#include "update/plan/commit_journal.h"

#include <cstring>

#include "update/format/entry_name.h"
#include "update/format/game_layout.h"

namespace {

const char kFirstLine[] = "journal 1";

bool IsDigest(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsSafePath(const std::string& path) {
  return !path.empty() && path.size() < UPDATE_PATH_SIZE && path.find('\0') == std::string::npos &&
         IsSafeEntryName(path.c_str(), path.size() + 1);
}

// `line` begins with `word` and a blank: the rest goes to `rest`.
bool Starts(const std::string& line, const char* word, std::string* rest) {
  const size_t length = std::strlen(word);
  if (line.size() <= length || line.compare(0, length, word) != 0 || line[length] != ' ') {
    return false;
  }
  *rest = line.substr(length + 1);
  return true;
}

const char* OpWord(CommitOp op) {
  switch (op) {
    case CommitOp::Replace:
      return "replace";
    case CommitOp::Add:
      return "add";
    case CommitOp::Remove:
      return "remove";
  }
  return "replace";
}

const char* StateWord(CommitState state) {
  switch (state) {
    case CommitState::Commit:
      return "commit";
    case CommitState::Rollback:
      return "rollback";
    case CommitState::Done:
      return "done";
  }
  return "commit";
}

}  // namespace

std::string FormatJournal(const CommitJournal& journal) {
  std::string text = std::string(kFirstLine) + "\n";
  text += "patch " + journal.patch + " " + journal.targetVersion + "\n";
  text += std::string("state ") + StateWord(journal.state) + "\n";
  for (const CommitStep& step : journal.steps) {
    text += std::string(OpWord(step.op)) + " " + step.path + "\n";
  }
  return text;
}

bool ParseJournal(const std::string& text, CommitJournal* journal) {
  CommitJournal parsed;
  size_t lineNumber = 0;
  bool stateSeen = false;
  for (size_t begin = 0; begin < text.size();) {
    const size_t end = text.find('\n', begin);
    if (end == std::string::npos) return false;  // cut short
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    std::string rest;
    switch (lineNumber++) {
      case 0:
        if (line != kFirstLine) return false;
        continue;
      case 1: {
        if (!Starts(line, "patch", &rest)) return false;
        const size_t blank = rest.find(' ');
        if (blank == std::string::npos) return false;
        parsed.patch = rest.substr(0, blank);
        parsed.targetVersion = rest.substr(blank + 1);
        if (!IsDigest(parsed.patch) || parsed.targetVersion.empty()) return false;
        continue;
      }
      case 2:
        if (!Starts(line, "state", &rest)) return false;
        for (CommitState state : {CommitState::Commit, CommitState::Rollback, CommitState::Done}) {
          if (rest == StateWord(state)) {
            parsed.state = state;
            stateSeen = true;
          }
        }
        if (!stateSeen) return false;
        continue;
      default:
        break;
    }
    CommitStep step;
    if (Starts(line, "replace", &step.path)) {
      step.op = CommitOp::Replace;
    } else if (Starts(line, "add", &step.path)) {
      step.op = CommitOp::Add;
    } else if (Starts(line, "remove", &step.path)) {
      step.op = CommitOp::Remove;
    } else {
      return false;
    }
    if (!IsSafePath(step.path)) return false;
    parsed.steps.push_back(step);
  }
  if (!stateSeen) return false;
  *journal = parsed;
  return true;
}
