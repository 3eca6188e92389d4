#include "update/install/decode_entry.h"

#include <cstring>
#include <string>

#include "update/base/md5.h"
#include "update/install/extract_entry.h"
#include "update/log/logger.h"
#include "update/session/file_failure.h"
#include "update/session/progress_report.h"

namespace {

const char kTextDecodeFailed[] = "解码文件错误 %s %d";
// The check that refused the entry, for whoever reads the log.
const char kTextDecodeCheck[] = "解码检查 %s: %s";
const char kTextDigestWrong[] = "文件校验错误 %s";

class FileSink : public DecodeSink {
 public:
  FileSink(HANDLE file, uint32_t size) : file_(file), size_(size) {}

  bool Write(const unsigned char* data, uint32_t length) override {
    DWORD written = 0;
    if (!WriteFile(file_, data, length, &written, nullptr)) {
      writeError_ = GetLastError();
      return false;
    }
    if (written != length) {
      writeError_ = ERROR_HANDLE_DISK_FULL;
      return false;
    }
    md5_.update(data, length);
    written_ += length;
    // The decoder never writes past the decoded size.
    while (written_ - reported_ >= EXTRACT_CHUNK_SIZE) {
      reported_ += EXTRACT_CHUNK_SIZE;
      ReportProgress(PG_EXTRACT_BYTES, size_ - reported_, size_);
    }
    if (written_ == size_ && reported_ < size_) {
      reported_ = size_;
      ReportProgress(PG_EXTRACT_BYTES, 0, size_);
    }
    return true;
  }

  DWORD WriteError() const { return writeError_; }
  bool DigestIs(const unsigned char (&expected)[ENTRY_DIGEST_SIZE]) {
    md5_.finalize();
    return md5_.raw_digest() ==
           std::string(reinterpret_cast<const char*>(expected), sizeof expected);
  }

 private:
  HANDLE file_;
  uint32_t size_;
  uint32_t written_ = 0;
  uint32_t reported_ = 0;
  DWORD writeError_ = 0;
  MD5 md5_;
};

}  // namespace

DecodedFile DecodeEntryToFile(ByteSource& payload, const RunEntry& entry, ByteSource* deltaSource,
                              HANDLE out) {
  DecodeRequest request;
  request.coding = entry.descriptor.coding;
  request.stored = &payload;
  request.storedBegin = entry.storedBegin;
  request.storedSize = entry.storedSize;
  request.source = deltaSource;
  request.decodedSize = entry.descriptor.decodedSize;
  FileSink sink(out, entry.descriptor.decodedSize);
  DecodedFile decoded;
  decoded.error = DecodeEntryData(request, sink);
  decoded.writeError = sink.WriteError();
  decoded.digestMatches =
      decoded.error == DecodeError::None && sink.DigestIs(entry.descriptor.decodedMd5);
  return decoded;
}

void SetDecodeFailure(const DecodedFile& decoded, const char* path, RunFailure& failure) {
  if (decoded.error == DecodeError::SinkFailed) {
    SetWriteFailure(failure, path, decoded.writeError);
  } else if (decoded.error != DecodeError::None) {
    g_Log.Info(kTextDecodeCheck, path, DecodeErrorText(decoded.error));
    SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextDecodeFailed, path,
                    DecodeErrorCode(decoded.error));
  } else if (!decoded.digestMatches) {
    SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextDigestWrong, path);
  }
}
