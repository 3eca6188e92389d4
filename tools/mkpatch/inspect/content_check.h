// Checking what a payload's entries decode to, without the game.
#pragma once

#include <string>
#include <vector>

#include "mkpatch/inspect/payload_check.h"
#include "update/format/entry_decode.h"
#include "update/format/entry_detail.h"

// Decodes every marked entry of a readable payload. A whole file must decode
// to the size and MD5 its descriptor records. A delta cannot be applied
// without the installed file, so it is decoded against zero bytes of the
// recorded source size: every bound, stream length and the decoded size are
// still checked, only the result's MD5 is not. A delta that cannot be
// decoded against stand-in bytes (DeltaNeedsSource) has its header and every
// stream checked (counted in *streamsOnlyDeltas). One message per fault.
std::vector<std::string> CheckEntryContents(ByteSource& updater, const PayloadReport& report,
                                            size_t* streamsOnlyDeltas = nullptr);
