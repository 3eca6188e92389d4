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
// still checked, only the result's MD5 is not. A delta that models an
// image's references needs the image itself: of it, the header and every
// stream are checked (counted in *imageDeltas). One message per fault.
std::vector<std::string> CheckEntryContents(ByteSource& updater, const PayloadReport& report,
                                            size_t* imageDeltas = nullptr);
