// What of a stub (a finished Update.exe) goes in front of a new payload.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

struct StubPlan {
  uint64_t keep = 0;  // leading bytes copied
  // The file offset of a certificate directory entry to clear, or 0.
  uint64_t clearSignatureEntry = 0;
  bool payloadCut = false;  // the stub carried a payload, which is left out
};

// How many leading bytes of `stub` to keep: an old payload is cut off when
// `replacePayload` allows it (refused otherwise), and a signature always: the
// appended payload would break it (the release engineer signs the finished
// updater instead), which is said on `err`. `stubPath` is for messages.
bool MeasureStub(const std::string& stubPath, bool replacePayload, FILE* stub, StubPlan* plan,
                 std::ostream& err);
