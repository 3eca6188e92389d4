// Feeds arbitrary files to what mkpatch list and check read beyond the
// updater's own checks: the list of old builds a patch names, each delta's
// way as list shows it, and each file's way from the installed bytes as
// check tells it. Aborts when a way names an entry that is not its file's,
// or one the plan does not take.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "input_game.h"
#include "mkpatch/inspect/file_ways.h"
#include "mkpatch/inspect/patch_builds.h"
#include "mkpatch/inspect/payload_check.h"
#include "update/base/byte_source.h"
#include "update/codec/delta_decoder.h"
#include "update/format/entry_group.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

void CheckWays(ByteSource& file, const PayloadReport& report) {
  const std::vector<PayloadEntry>& table = report.table.entries;
  const PatchBuilds builds = ReadPatchBuilds(file, table, report.details);
  if (!builds.listed) Require(builds.names.empty());
  const uint32_t masks[] = {0u, 1u, 0x80000001u, ~0u};
  const size_t counts[] = {0, 1, 2, 32};
  for (int i = 0; i < 4; ++i) Require(NamedBuilds(builds, masks[i]).size() == counts[i]);
  for (size_t i = 0; i < table.size(); ++i) {
    const EntryDetail& detail = report.details[i];
    if (!detail.HasDescriptor() || detail.descriptor.coding != EntryCoding::Delta) continue;
    const DecodeRequest request = DecodeRequestFor(file, table[i], detail, nullptr);
    const DeltaWay way = ReadDeltaWay(request);
    Require(*DeltaWayText(way) != '\0');
    Require(DeltaNeedsSource(request) ==
            (way == DeltaWay::CopiesImageReferences || way == DeltaWay::SourcePrefixX86Branches));
  }
  InputGame game(file);
  const InstallPlan plan = PredictInstall(file, table, report.details, game);
  const EntryGroups groups = GroupEntries(table, report.details);
  size_t files = 0;
  for (uint32_t i = 0; i < table.size(); ++i) files += groups.first[i] == i ? 1 : 0;
  const std::vector<FileWay> ways = DescribeWays(plan, table, report.details, builds, game);
  Require(ways.size() == files);
  for (const FileWay& way : ways) {
    Require(!FileWayText(way).empty());
    Require(way.found != FoundBytes::Build || !way.way.empty());
    uint32_t first = NO_ENTRY;
    for (size_t k = 0; k < way.way.size(); ++k) {
      const WayStep& step = way.way[k];
      Require(step.entry < table.size());
      if (first == NO_ENTRY) first = groups.first[step.entry];
      Require(groups.first[step.entry] == first);
      Require(k == 0 ? plan.entries[step.entry].startsWay
                     : plan.entries[way.way[k - 1].entry].next == step.entry);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryByteSource file(data, size);
  const PayloadReport report = InspectPayload(file);
  if (report.Readable()) CheckWays(file, report);
  return 0;
}
