// The commit journal (update/plan/commit_journal.h) on disk, in the game
// directory. It is always replaced whole in one step, so that a run killed
// while writing it leaves the journal before or after, never half of one.
#pragma once

#include "update/files/system_result.h"
#include "update/format/game_layout.h"
#include "update/plan/commit_journal.h"

enum class JournalRead : uint8_t { None, Read, Damaged };

// Reads the journal of the game in `gameDir`: None when there is none,
// Damaged when one is there that cannot be read or understood. `path`
// receives its whole path.
JournalRead ReadJournal(const char* gameDir, CommitJournal* journal,
                        char (&path)[UPDATE_PATH_SIZE]);
// Writes `journal` beside its place, flushed, and moves it there.
SystemResult WriteJournal(const char* gameDir, const CommitJournal& journal);
// Removes it, once the commit or its rollback has ended.
SystemResult RemoveJournal(const char* gameDir);
