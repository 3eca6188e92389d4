// Entry names that would land on the same file: Windows file systems ignore
// case and take '/' for '\\', and an empty name is extracted as toplevel.tpk.
// A name that is another's directory cannot be both a file and a directory.
#pragma once

#include <string>
#include <vector>

// The name as the file system compares it (GBK in, GBK out).
std::string FoldEntryName(const std::string& gbkName);

// One message per clash; names are shown converted to UTF-8.
std::vector<std::string> FindNameClashes(const std::vector<std::string>& gbkNames);
