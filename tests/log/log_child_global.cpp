// A global of another file than the log's: it logs while being constructed
// and destroyed, which needs g_Log alive on both sides of it.
#include "update/log/logger.h"

namespace {

struct EarlyGlobal {
  EarlyGlobal() { g_Log.Info("early global constructed"); }
  ~EarlyGlobal() { g_Log.Info("early global destroyed"); }
};

EarlyGlobal early;

}  // namespace
