#include "update/install/decode_entry.h"

#include <cstring>

#include "update/base/scaled_counters.h"
#include "update/files/win32_worker_thread.h"
#include "update/format/entry_decode.h"
#include "update/install/extract_entry.h"
#include "update/log/logger.h"
#include "update/session/file_failure.h"
#include "update/session/progress_report.h"

namespace {

const char kTextDecodeFailed[] = "解码文件错误 %s %d";
const char kTextDigestWrong[] = "文件校验错误 %s";
// The check that refused the entry, by its number (DecodeError), for whoever
// reads the log: docs/mkpatch.md names each.
const char kTextDecodeCheck[] = "解码检查 %s %d";

// Writes the decoded bytes to the file, reporting progress as extraction does.
class FileSink : public DecodeSink {
 public:
  FileSink(HANDLE file, uint64_t size, const WayProgress& way)
      : file_(file), size_(size), way_(way) {}

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
    written_ += length;
    // The decoder never writes past the decoded size.
    while (written_ - reported_ >= EXTRACT_CHUNK_SIZE) {
      reported_ += EXTRACT_CHUNK_SIZE;
      Report(size_ - reported_);
    }
    if (written_ == size_ && reported_ < size_) {
      reported_ = size_;
      Report(0);
    }
    return true;
  }

  DWORD WriteError() const { return writeError_; }

 private:
  // `left` bytes of this entry still to come.
  void Report(uint64_t left) {
    const uint64_t wayLeft = way_.total - way_.done - size_ + left;
    ReportProgress(PG_EXTRACT_BYTES, ScaledCounter(wayLeft, shift_),
                   ScaledCounter(way_.total, shift_));
  }

  HANDLE file_;
  uint64_t size_;
  WayProgress way_;
  int shift_ = CounterShift(way_.total);
  uint64_t written_ = 0;
  uint64_t reported_ = 0;
  DWORD writeError_ = 0;
};

}  // namespace

DecodedFile DecodeEntryToFile(ByteSource& payload, const PayloadEntry& entry,
                              const EntryDetail& detail, ByteSource* deltaSource, HANDLE out,
                              const WayProgress& progress) {
  FileSink sink(out, DecodedSize(entry, detail), progress);
  unsigned char md5[ENTRY_DIGEST_SIZE];
  DecodedFile decoded;
  // The installed file (InstalledFile) takes reads from two threads at
  // once, so the reference scan may hand half of its walk to a second one.
  Win32WorkerThread worker;
  decoded.error = DecodeEntry(payload, entry, detail, deltaSource, &sink, md5, &worker);
  decoded.writeError = sink.WriteError();
  decoded.digestMatches = decoded.error == DecodeError::None &&
                          std::memcmp(md5, detail.descriptor.decodedMd5, ENTRY_DIGEST_SIZE) == 0;
  return decoded;
}

void SetDecodeFailure(const DecodedFile& decoded, const char* path, RunFailure& failure) {
  if (decoded.error == DecodeError::SinkFailed) {
    SetWriteFailure(failure, path, decoded.writeError);
  } else if (decoded.error != DecodeError::None) {
    g_Log.Info(kTextDecodeCheck, path, static_cast<int>(decoded.error));
    SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextDecodeFailed, path,
                    DecodeErrorCode(decoded.error));
  } else if (!decoded.digestMatches) {
    SetNamedFailure(failure, ERROR_FILE_CORRUPT, kTextDigestWrong, path);
  }
}
