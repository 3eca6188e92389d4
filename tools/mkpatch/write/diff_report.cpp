#include "mkpatch/write/diff_report.h"

#include <cstdio>

#include "mkpatch/write/json_text.h"
#include "update/format/payload.h"

namespace {

struct Totals {
  uint64_t wholeSize = 0;  // every shipped file and package as it is
  uint64_t stored = 0;
  uint64_t shipped = 0;
  uint64_t compared = 0;  // the entries the patches it replaces are measured against
};

Totals Sum(const DiffReport& report) {
  Totals totals;
  // A file's entries stand together; a step makes a later build's bytes,
  // the file's others each make all of it.
  const DiffRow* counted = nullptr;
  for (const DiffRow& row : report.rows) {
    const bool sameFile = counted != nullptr && row.action != "package" &&
                          counted->action != "package" && row.path == counted->path;
    if (row.hasNewSize && row.action != "step" && !sameFile) {
      totals.wholeSize += row.newSize;
      counted = &row;
    }
    totals.stored += row.stored;
    totals.shipped += row.shipped;
    if (row.action != "package") totals.compared += row.shipped;
  }
  return totals;
}

std::string SizeOrDash(bool has, uint64_t size) { return has ? std::to_string(size) : "-"; }

std::string JsonSize(bool has, uint64_t size) { return has ? std::to_string(size) : "null"; }

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

// `part` of `whole` as a percentage with one decimal.
std::string Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return "-";
  const uint64_t permille = part * 1000 / whole;
  return std::to_string(permille / 10) + "." + std::to_string(permille % 10) + "%";
}

void PrintBuildTotals(const DiffReport& report, const Totals& totals, std::ostream& err) {
  err << "builds:    " << report.buildNames.front() << " (base)";
  for (size_t i = 1; i < report.buildNames.size(); ++i) err << ", " << report.buildNames[i];
  err << "\nagainst:   entries " << totals.compared
      << " bytes, packages aside; the patches from each build to the next " << report.singleSteps
      << " bytes (" << Percent(totals.compared, report.singleSteps)
      << "), from each build to the new one " << report.direct << " bytes ("
      << Percent(totals.compared, report.direct) << ")\n";
}

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
    if (!row.builds.empty()) {
      err << "  [" << Joined(row.builds);
      if (!row.stepTo.empty()) err << " -> " << Joined(row.stepTo);
      err << "]";
    }
    if (!row.deltaWay.empty()) err << "  via " << row.deltaWay;
    err << "\n";
  }
  const Totals totals = Sum(report);
  err << "unchanged: " << report.unchanged << (report.unchanged == 1 ? " file\n" : " files\n");
  err << "shipped:   " << totals.shipped << " bytes in " << report.rows.size() << " entries for "
      << totals.wholeSize << " bytes of whole files";
  if (totals.wholeSize > 0) err << " (" << Percent(totals.shipped, totals.wholeSize) << ")";
  err << "\npatch:     " << report.output << ", " << report.patchSize << " bytes (program "
      << report.stubBytes << ", entries " << totals.shipped << ", trailer " << PATCH_TRAILER_SIZE
      << ")\n";
  if (!report.buildNames.empty()) PrintBuildTotals(report, totals, err);
  if (report.repair) {
    err << "repair:    " << report.repairedFiles << (report.repairedFiles == 1 ? " file" : " files")
        << " whole that deltas would have brought from every build: " << report.repairCost
        << " bytes more\n";
  }
}

void PrintDiffJson(const DiffReport& report, std::ostream& out) {
  const bool several = !report.buildNames.empty();
  out << "{\"output\":" << JsonString(report.output)
      << ",\"baseVersion\":" << JsonString(report.baseVersion)
      << ",\"targetVersion\":" << JsonString(report.targetVersion);
  if (several) out << ",\"builds\":" << JsonStrings(report.buildNames);
  out << ",\"files\":[";
  const char* separator = "";
  for (const DiffRow& row : report.rows) {
    out << separator << "{\"path\":" << JsonString(row.path) << ",\"action\":\"" << row.action
        << "\",\"coding\":"
        << (row.coded ? std::string("\"") + CodingName(row.coding) + "\"" : "null")
        << ",\"deltaWay\":"
        << (row.deltaWay.empty() ? std::string("null") : JsonString(row.deltaWay))
        << ",\"oldSize\":" << JsonSize(row.hasOldSize, row.oldSize)
        << ",\"newSize\":" << JsonSize(row.hasNewSize, row.newSize) << ",\"stored\":" << row.stored
        << ",\"shipped\":" << row.shipped;
    if (several) {
      out << ",\"from\":" << (row.from.empty() ? std::string("null") : JsonString(row.from))
          << ",\"builds\":" << JsonStrings(row.builds);
      if (row.action == "step") out << ",\"stepTo\":" << JsonStrings(row.stepTo);
    }
    out << "}";
    separator = ",";
  }
  const Totals totals = Sum(report);
  out << "],\"unchanged\":" << report.unchanged << ",\"totals\":{\"entries\":" << report.rows.size()
      << ",\"wholeSize\":" << totals.wholeSize << ",\"stored\":" << totals.stored
      << ",\"shipped\":" << totals.shipped << ",\"program\":" << report.stubBytes
      << ",\"trailer\":" << PATCH_TRAILER_SIZE << ",\"patchSize\":" << report.patchSize;
  if (several) {
    out << ",\"compared\":" << totals.compared << ",\"singleSteps\":" << report.singleSteps
        << ",\"direct\":" << report.direct;
  }
  if (report.repair) {
    out << ",\"repairedFiles\":" << report.repairedFiles << ",\"repairCost\":" << report.repairCost;
  }
  out << "}}\n";
}
