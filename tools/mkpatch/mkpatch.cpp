#include "mkpatch.h"

#include "build_command.h"
#include "check_command.h"
#include "diff_command.h"
#include "extract_command.h"
#include "inspect_command.h"
#include "options.h"

int RunMkpatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    err << "mkpatch: " << error << "\n" << UsageText();
    return 2;
  }
  switch (options.command) {
    case Command::Help:
      out << UsageText();
      return 0;
    case Command::Build:
      return RunBuild(options, out, err);
    case Command::Diff:
      return RunDiff(options, out, err);
    case Command::List:
      return RunList(options, out, err);
    case Command::Verify:
      return RunVerify(options, out, err);
    case Command::Extract:
      return RunExtract(options, out, err);
    case Command::Check:
      return RunCheck(options, out, err);
  }
  return 2;
}
