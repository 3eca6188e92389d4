// Making the folders on the way to a file the run is about to create.
#pragma once

// Creates every missing directory on the way to the file at `path` (a GBK
// path; a trail byte 0x5C never ends a directory name). A directory that
// cannot be made shows up when the file itself cannot be created.
void CreateParentDirs(const char* path);
