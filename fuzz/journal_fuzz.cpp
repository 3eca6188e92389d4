// Feeds arbitrary text to the reader of the commit journal, which a killed
// run leaves in the game directory and the next run acts on. Aborts when an
// accepted journal names a path that is not a safe relative one, or does not
// read back the same once written again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/format/entry_name.h"
#include "update/plan/commit_journal.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool SameJournal(const CommitJournal& a, const CommitJournal& b) {
  if (a.patch != b.patch || a.targetVersion != b.targetVersion || a.state != b.state ||
      a.steps.size() != b.steps.size()) {
    return false;
  }
  for (size_t i = 0; i < a.steps.size(); ++i) {
    if (a.steps[i].op != b.steps[i].op || a.steps[i].path != b.steps[i].path) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  CommitJournal journal;
  if (!ParseJournal(text, &journal)) return 0;
  Require(journal.patch.size() == 32);
  for (const CommitStep& step : journal.steps) {
    Require(!step.path.empty() && IsSafeEntryName(step.path.c_str(), step.path.size() + 1));
  }
  CommitJournal again;
  Require(ParseJournal(FormatJournal(journal), &again));
  Require(SameJournal(journal, again));
  return 0;
}
