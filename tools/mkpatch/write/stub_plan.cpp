#include "mkpatch/write/stub_plan.h"

#include "mkpatch/fs/file_source.h"
#include "mkpatch/fs/file_system.h"
#include "update/format/signed_image.h"

bool MeasureStub(const std::string& stubPath, bool replacePayload, FILE* stub, StubPlan* plan,
                 std::ostream& err) {
  uint64_t size = 0;
  if (!FileSize(stub, &size)) {
    err << "mkpatch: cannot read stub " << stubPath << "\n";
    return false;
  }
  FileByteSource file(stub, size);
  const uint64_t end = PayloadEnd(file, ReadPeSignature(file));
  BoundedPayloadSource source(file, end);
  plan->keep = end;
  PatchTrailer trailer;
  uint32_t got = 0;
  if (ReadTrailer(source, &trailer, &got) && IsTrailerSound(trailer, end)) {
    if (!replacePayload) {
      err << "mkpatch: stub " << stubPath
          << " already carries a payload (use --replace-payload to replace it)\n";
      return false;
    }
    if (trailer.firstEntryOffset > end - PATCH_TRAILER_SIZE) {
      err << "mkpatch: the stub's old payload is damaged; cannot tell where it begins\n";
      return false;
    }
    plan->keep = trailer.firstEntryOffset;
    plan->payloadCut = true;
  }
  // A table that ends the kept bytes goes with its padding; the entry goes
  // whether or not its table survives the cut, since the output cannot carry
  // the signature it names.
  BoundedPayloadSource kept(file, plan->keep);
  const PeSignature signature = ReadPeSignature(kept);
  plan->keep = UnsignedImageEnd(kept, signature);
  const bool hasEntry = signature.tableOffset != 0 || signature.tableSize != 0;
  if (signature.headersSound && hasEntry && signature.directoryEntryOffset + 8 <= plan->keep) {
    plan->clearSignatureEntry = signature.directoryEntryOffset;
    err << "mkpatch: stub " << stubPath << " carries a signature (certificate table of "
        << signature.tableSize << " bytes at byte " << signature.tableOffset
        << "); the payload would break it, so it is removed: sign the finished updater "
           "(see docs/signing.md)\n";
  }
  return true;
}
