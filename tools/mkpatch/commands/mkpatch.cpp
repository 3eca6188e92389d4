#include "mkpatch/commands/mkpatch.h"

#include "mkpatch/commands/build_command.h"
#include "mkpatch/commands/check_command.h"
#include "mkpatch/commands/diff_command.h"
#include "mkpatch/commands/extract_command.h"
#include "mkpatch/commands/inspect_command.h"
#include "mkpatch/commands/options.h"

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
