#include "mkpatch/write/diff_report.h"

#include <cstdio>

#include "mkpatch/write/json_text.h"
#include "update/format/payload.h"

namespace {

struct Totals {
  uint64_t wholeSize = 0;  // every shipped file and package as it is
  uint64_t stored = 0;
  uint64_t shipped = 0;
};

Totals Sum(const DiffReport& report) {
  Totals totals;
  for (const DiffRow& row : report.rows) {
    if (row.hasNewSize) totals.wholeSize += row.newSize;
    totals.stored += row.stored;
    totals.shipped += row.shipped;
  }
  return totals;
}

std::string SizeOrDash(bool has, uint64_t size) { return has ? std::to_string(size) : "-"; }

std::string JsonSize(bool has, uint64_t size) { return has ? std::to_string(size) : "null"; }

}  // namespace

void PrintDiffSummary(const DiffReport& report, std::ostream& err) {
  char line[160];
  std::snprintf(line, sizeof line, "%-8s %-6s %12s %12s %12s  %s\n", "action", "coding", "old size",
                "new size", "shipped", "path");
  err << line;
  for (const DiffRow& row : report.rows) {
    std::snprintf(line, sizeof line, "%-8s %-6s %12s %12s %12llu  ", row.action.c_str(),
                  row.coded ? CodingName(row.coding) : "-",
                  SizeOrDash(row.hasOldSize, row.oldSize).c_str(),
                  SizeOrDash(row.hasNewSize, row.newSize).c_str(),
                  static_cast<unsigned long long>(row.shipped));
    err << line << row.path;
    if (!row.from.empty()) err << " (from " << row.from << ")";
    err << "\n";
  }
  const Totals totals = Sum(report);
  err << "unchanged: " << report.unchanged << (report.unchanged == 1 ? " file\n" : " files\n");
  err << "shipped:   " << totals.shipped << " bytes in " << report.rows.size() << " entries for "
      << totals.wholeSize << " bytes of whole files";
  if (totals.wholeSize > 0) {
    const uint64_t permille = totals.shipped * 1000 / totals.wholeSize;
    err << " (" << permille / 10 << "." << permille % 10 << "%)";
  }
  err << "\npatch:     " << report.output << ", " << report.patchSize << " bytes (program "
      << report.stubBytes << ", entries " << totals.shipped << ", trailer " << PATCH_TRAILER_SIZE
      << ")\n";
}

void PrintDiffJson(const DiffReport& report, std::ostream& out) {
  out << "{\"output\":" << JsonString(report.output)
      << ",\"baseVersion\":" << JsonString(report.baseVersion)
      << ",\"targetVersion\":" << JsonString(report.targetVersion) << ",\"files\":[";
  const char* separator = "";
  for (const DiffRow& row : report.rows) {
    out << separator << "{\"path\":" << JsonString(row.path) << ",\"action\":\"" << row.action
        << "\",\"coding\":"
        << (row.coded ? std::string("\"") + CodingName(row.coding) + "\"" : "null")
        << ",\"oldSize\":" << JsonSize(row.hasOldSize, row.oldSize)
        << ",\"newSize\":" << JsonSize(row.hasNewSize, row.newSize) << ",\"stored\":" << row.stored
        << ",\"shipped\":" << row.shipped << "}";
    separator = ",";
  }
  const Totals totals = Sum(report);
  out << "],\"unchanged\":" << report.unchanged << ",\"totals\":{\"entries\":" << report.rows.size()
      << ",\"wholeSize\":" << totals.wholeSize << ",\"stored\":" << totals.stored
      << ",\"shipped\":" << totals.shipped << ",\"program\":" << report.stubBytes
      << ",\"trailer\":" << PATCH_TRAILER_SIZE << ",\"patchSize\":" << report.patchSize << "}}\n";
}
