// The run never writes or removes through a link: a junction or symbolic
// link inside the game directory could send a write, a rename or a deletion
// to a file outside it, or to another file of the game.
#pragma once

#include "update/session/update_session.h"

// Looks at every component of `relativePath` below `gameDir`, from the top
// down to the file itself, for one that exists and is a reparse point (as
// QueryPathAttributes reports it); the game directory's own components are
// not looked at. True with that component's whole path in `link` when one
// is found; false when none is (a missing component ends the search, since
// nothing below it exists). A path too long for `link` is not looked at:
// the run refuses it for its length.
bool FindLinkOnPath(const char* gameDir, const char* relativePath, char (&link)[UPDATE_PATH_SIZE]);
