// Independent pieces of encoding, run side by side: the ways of writing one
// file at full strength take seconds each and share nothing but what they
// read. Each result is the same whichever thread makes it, so the bytes
// mkpatch writes do not depend on the threads.
#pragma once

#include <cstddef>
#include <functional>

// The threads besides the caller's: the machines mkpatch runs on have two
// cores at least. A 32-bit mkpatch runs the pieces one after another, since
// its address space has no room for the tables of two strong levels at
// once (a level-22 delta of a 10 MB program against its old build holds
// about 400 MB).
constexpr size_t kSideBySideWorkers = sizeof(void*) >= 8 ? 2 : 0;

// Calls work(i) for every i below count, on the caller's thread and up to
// kSideBySideWorkers others, and returns when all have ended. After a call
// throws, no more are started; the exception of the first index that threw
// is rethrown once the running ones are over.
void RunSideBySide(size_t count, const std::function<void(size_t)>& work);
