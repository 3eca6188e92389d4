// The engine's side of the progress registration that SetProgressCallback
// makes: the run and the installation report through here.
#pragma once

#include <cstdint>

// Calls the registered callback with its user value; nothing when none is set.
void ReportProgress(uint32_t code, uint32_t a, uint32_t b);
