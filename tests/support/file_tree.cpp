#include "file_tree.h"

#include "remove_tree.h"

void RemoveTree(const std::string& path) { RemoveTree(path.c_str()); }
