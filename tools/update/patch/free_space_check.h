// The run's refusal to start writing onto a disk too small for it: what each
// volume needs (space_needs.h) against what the system reports free.
#pragma once

#include <vector>

#include "payload_table.h"
#include "run_failure.h"

// Checks the volumes of `gameDir` and of the temporary directory for the
// room the entries need. Too little on any: `failure` is set with the text
// that names the volume and the megabytes missing, and false is returned.
// A volume whose free space the system does not report is not refused: the
// writes themselves then say whether there was room.
bool CheckFreeSpace(const std::vector<PayloadEntry>& entries, const char* gameDir,
                    RunFailure& failure);
