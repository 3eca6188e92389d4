// Lines handed over in a string stream. A file of its own: a program that
// never logs through a stream (the updater) then links none of the stream
// and locale code.
#include <sstream>
#include <string>

#include "update/log/logger.h"

void Logger::LogStream(int level, std::ostringstream& stream) {
  if (ShouldLog(level)) {
    // Only what was written since the last rewind: after a rewind the
    // buffer still holds the tail of a longer earlier text.
    std::string text = stream.str();
    std::streamoff position = stream.tellp();
    if (position >= 0 && static_cast<size_t>(position) < text.size()) {
      text.resize(static_cast<size_t>(position));
    }
    Write(text.c_str(), level);
  }
  stream.seekp(0);
}
