// Names of descriptor entries: the name field holds the name, its NUL, then
// the marker that says a descriptor begins the data, so names are shorter
// than those of plain entries.
#pragma once

#include <string>

#include "update/format/entry_descriptor.h"
#include "update/format/payload.h"

// The name of an entry that installs at `gbkPath` (GBK, '\' between parts, a
// path the updater accepts): its last part, cut at a character boundary to
// ENTRY_DESCRIPTOR_MAX_NAME bytes when longer and still a name the updater
// accepts. The descriptor holds the whole path; the name is for people.
std::string DescriptorEntryName(const std::string& gbkPath);

// `gbkName`, its NUL and the marker of `format`; false when the name leaves
// no room.
bool MarkedNameField(const std::string& gbkName, char (&field)[PATCH_NAME_FIELD_SIZE],
                     uint8_t format = ENTRY_DESCRIPTOR_FORMAT);

// A name field for a plain entry: the GBK name, NUL-filled.
void PlainNameField(const std::string& gbkName, char (&field)[PATCH_NAME_FIELD_SIZE]);
