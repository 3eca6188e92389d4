// Writing an updater file or a bare package: the stub's kept bytes, then the
// entries (every header and data byte hashed into the payload digest on its
// way out, so the record costs no second pass), then the trailer. Everything
// goes into a temporary file beside the output that replaces the output only
// once it is whole.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "mkpatch/fs/temp_output.h"
#include "mkpatch/write/progress_bar.h"
#include "mkpatch/write/stub_plan.h"
#include "update/base/md5.h"
#include "update/format/entry_descriptor.h"
#include "update/format/payload.h"

class PayloadWriter {
 public:
  explicit PayloadWriter(const std::string& output) : output_(output) {}
  PayloadWriter(const PayloadWriter&) = delete;
  PayloadWriter& operator=(const PayloadWriter&) = delete;

  // False when no temporary file could be created beside the output.
  bool IsOpen() const { return output_.Get() != nullptr; }

  // The stub's kept bytes, with its certificate directory entry cleared.
  bool CopyStub(FILE* stub, const StubPlan& plan, ProgressBar& progress);

  // An entry's header; its `size` data bytes follow through WriteData and
  // CopyData.
  bool WriteHeader(const char (&nameField)[PATCH_NAME_FIELD_SIZE], uint32_t size);
  bool WriteData(const unsigned char* bytes, size_t size);
  bool CopyData(FILE* from, uint64_t length, ProgressBar& progress);

  // A descriptor entry: the name marked (at most ENTRY_DESCRIPTOR_MAX_NAME
  // bytes), then the descriptor and the stored bytes as its data.
  bool WriteDescriptorEntry(const std::string& gbkName, const EntryDescriptor& descriptor,
                            const std::vector<unsigned char>& stored);

  // Whether one more entry of `dataSize` bytes leaves room for the trailer
  // below PATCH_FILE_SIZE_LIMIT.
  bool Fits(uint64_t dataSize) const {
    return written_ + PATCH_ENTRY_HEADER_SIZE + dataSize + PATCH_TRAILER_SIZE <
           PATCH_FILE_SIZE_LIMIT;
  }

  // Bytes written so far: where the next entry or the trailer begins.
  uint64_t Written() const { return written_; }
  uint64_t StubBytes() const { return stubBytes_; }

  // Writes the trailer (with the digest record when the target version leaves
  // room for it) and moves the file into place.
  bool Finish(const std::string& baseVersion, const std::string& targetVersion);

 private:
  bool Write(const void* bytes, size_t size, bool digested);

  TempOutput output_;
  MD5 digest_;
  uint64_t written_ = 0;
  uint64_t stubBytes_ = 0;
  uint32_t entryCount_ = 0;
};
