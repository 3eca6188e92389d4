// Why mkpatch check says an updater does not apply: the install planner's
// problems (update/plan/install_plan.h) in words, UTF-8.
#pragma once

#include <string>
#include <vector>

#include "update/plan/install_plan.h"

// One reason per problem that the updater refuses or would fail on; in the
// order the planner found them.
std::vector<std::string> PlanReasons(const InstallPlan& plan,
                                     const std::vector<PayloadEntry>& table,
                                     const std::vector<EntryDetail>& details);
