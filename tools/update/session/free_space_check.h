// The run's refusal to start writing onto a disk too small for it: what each
// volume needs (space_needs.h) against what the system reports free.
#pragma once

#include <vector>

#include "update/plan/space_needs.h"
#include "update/session/run_failure.h"

// Checks the volumes of `gameDir` and of the temporary directory for the
// room the entries need (what each has on disk at most at one time). Too little on any: `failure`
// is set with the text that names the volume and the megabytes missing, and false is returned. A
// volume whose free space the system does not report is not refused: the writes themselves then say
// whether there was room.
bool CheckFreeSpace(const std::vector<EntrySpace>& entries, const char* gameDir,
                    RunFailure& failure);
