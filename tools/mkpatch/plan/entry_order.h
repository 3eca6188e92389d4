// The order of a patch's files: the updater refuses a delta whose source an
// earlier entry writes (it would read its own result), so every file whose
// delta reads another file's old bytes comes before that file's entries.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// One file (`reader`, an index) reads the old bytes of another (`writer`).
struct ReadsBefore {
  size_t reader = 0;
  size_t writer = 0;
};

// The indexes 0..count-1 with every reader before the writers it reads, and
// otherwise in their own order (so that with nothing to read they stay as
// they are). Where readings go round in a circle no order serves them all:
// the readings of the first file in the circle are dropped into `dropped`,
// and the caller ships those files without them.
std::vector<size_t> ReadersFirst(size_t count, const std::vector<ReadsBefore>& reads,
                                 std::vector<ReadsBefore>* dropped);
