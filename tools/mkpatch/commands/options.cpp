#include "mkpatch/commands/options.h"

namespace {

bool TakeValue(const std::vector<std::string>& args, size_t* index, std::string* value,
               std::string* error) {
  if (*index + 1 >= args.size()) {
    *error = "option " + args[*index] + " needs a value";
    return false;
  }
  *value = args[++*index];
  return true;
}

// Which of the required options came (an empty version is a fault for later).
struct OutputOptionsSeen {
  bool base = false;
  bool target = false;
};

// The options `build` and `diff` share: -o, --stub, --base, --target. Sets
// *taken when args[*index] was one of them.
bool ParseOutputOption(const std::vector<std::string>& args, size_t* index, Options* options,
                       OutputOptionsSeen* seen, bool* taken, std::string* error) {
  const std::string& arg = args[*index];
  *taken = true;
  if (arg == "-o" || arg == "--output") return TakeValue(args, index, &options->output, error);
  if (arg == "--base") {
    seen->base = true;
    return TakeValue(args, index, &options->baseVersion, error);
  }
  if (arg == "--target") {
    seen->target = true;
    return TakeValue(args, index, &options->targetVersion, error);
  }
  if (arg == "--stub") {
    if (!TakeValue(args, index, &options->stub, error)) return false;
    if (options->stub.empty()) {
      *error = "--stub needs a file";
      return false;
    }
    return true;
  }
  *taken = false;
  return true;
}

bool CheckOutputOptions(const std::string& command, const OutputOptionsSeen& seen,
                        const Options& options, std::string* error) {
  if (options.output.empty()) {
    *error = command + " needs -o OUT";
    return false;
  }
  if (!seen.base || !seen.target) {
    *error = command + " needs --base and --target";
    return false;
  }
  return true;
}

bool ParseBuild(const std::vector<std::string>& args, Options* options, std::string* error) {
  OutputOptionsSeen seen;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool taken = false;
    if (!ParseOutputOption(args, &i, options, &seen, &taken, error)) return false;
    if (taken) continue;
    if (arg == "--compress") {
      options->compress = true;
    } else if (arg == "--replace-payload") {
      options->replacePayload = true;
    } else if (arg == "--name") {
      std::string nameAndPath;
      if (!TakeValue(args, &i, &nameAndPath, error)) return false;
      size_t equals = nameAndPath.find('=');
      if (equals == std::string::npos || equals + 1 == nameAndPath.size()) {
        *error = "--name wants NAME=PATH";
        return false;
      }
      BuildInput input;
      input.named = true;
      input.name = nameAndPath.substr(0, equals);
      input.path = nameAndPath.substr(equals + 1);
      options->inputs.push_back(input);
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      BuildInput input;
      input.path = arg;
      options->inputs.push_back(input);
    }
  }
  if (!CheckOutputOptions("build", seen, *options, error)) return false;
  // A bare package goes to the launcher, which reads no descriptors.
  if (options->compress && options->stub.empty()) {
    *error =
        "--compress needs --stub: the game's launcher reads packages, and it cannot "
        "decode compressed entries";
    return false;
  }
  return true;
}

bool ParseDiff(const std::vector<std::string>& args, Options* options, std::string* error) {
  OutputOptionsSeen seen;
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool taken = false;
    if (!ParseOutputOption(args, &i, options, &seen, &taken, error)) return false;
    if (taken) continue;
    if (arg == "--json") {
      options->json = true;
    } else if (arg == "--repair") {
      options->repair = true;
    } else if (arg == "--from") {
      std::string dir;
      if (!TakeValue(args, &i, &dir, error)) return false;
      if (dir.empty()) {
        *error = "--from needs a directory";
        return false;
      }
      options->fromDirs.push_back(dir);
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (!CheckOutputOptions("diff", seen, *options, error)) return false;
  if (options->stub.empty()) {
    *error = "diff needs --stub STUB: its entries are for the updater, not for the launcher";
    return false;
  }
  if (positional.size() < 2) {
    *error = "diff wants OLD_DIR NEW_DIR [PACKAGE.tpk]... [--from DIR]...";
    return false;
  }
  options->oldDir = positional[0];
  options->newDir = positional[1];
  options->packages.assign(positional.begin() + 2, positional.end());
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
  *options = Options();
  if (args.empty()) {
    *error = "no command given";
    return false;
  }
  const std::string& command = args[0];
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      options->command = Command::Help;
      return true;
    }
  }
  if (command == "help") return true;
  if (command == "build") {
    options->command = Command::Build;
    return ParseBuild(args, options, error);
  }
  if (command == "diff") {
    options->command = Command::Diff;
    return ParseDiff(args, options, error);
  }
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json" && (command == "list" || command == "check")) {
      options->json = true;
    } else if (args[i] == "--base-dir" && command == "extract") {
      if (!TakeValue(args, &i, &options->baseDir, error)) return false;
      if (options->baseDir.empty()) {
        *error = "--base-dir needs a directory";
        return false;
      }
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      *error = "unknown option " + args[i];
      return false;
    } else {
      positional.push_back(args[i]);
    }
  }
  size_t wanted = 1;
  const char* shape = " wants one FILE";
  if (command == "list") {
    options->command = Command::List;
  } else if (command == "verify") {
    options->command = Command::Verify;
  } else if (command == "extract") {
    options->command = Command::Extract;
    wanted = 2;
    shape = " wants FILE DIR";
  } else if (command == "check") {
    options->command = Command::Check;
    wanted = 2;
    shape = " wants UPDATER GAMEDIR";
  } else {
    *error = "unknown command " + command;
    return false;
  }
  if (positional.size() != wanted) {
    *error = command + shape;
    return false;
  }
  options->file = positional[0];
  if (wanted == 2) options->directory = positional[1];
  return true;
}

const char* UsageText() {
  return "usage:\n"
         "  mkpatch diff -o OUT --stub STUB --base VERSION --target VERSION\n"
         "               OLD_DIR NEW_DIR [PACKAGE.tpk]... [--from DIR]... [--repair] [--json]\n"
         "      The usual way to make a patch: compares two release trees of the game\n"
         "      and ships what changed (deltas against the installed files, or whole\n"
         "      files compressed), the new files, and removals of files NEW_DIR lacks;\n"
         "      PACKAGE.tpk files go to the game's launcher. Each --from DIR is a later\n"
         "      build than OLD_DIR that players may have installed (in release order):\n"
         "      the patch then brings every one of them to NEW_DIR. --repair ships\n"
         "      every file that changed whole, so that files the player changed are\n"
         "      replaced too. A summary goes to stderr; --json prints it as one\n"
         "      object on stdout.\n"
         "  mkpatch build -o OUT [--stub STUB] --base VERSION --target VERSION\n"
         "                [--replace-payload] [--compress] [--name NAME=PATH]... [INPUT]...\n"
         "      Appends a payload to STUB (without --stub: a bare .tpk package).\n"
         "      A file INPUT becomes one entry named by its file name; a directory\n"
         "      INPUT adds every file below it under its relative path (with '\\').\n"
         "      --name gives one file an explicit entry name (empty: the package\n"
         "      installed as toplevel.tpk). --compress stores each entry compressed\n"
         "      where that is smaller (updaters only). VERSION is four numbers, e.g.\n"
         "      1.4.1.34242.\n"
         "  mkpatch list FILE [--json]   versions and entries\n"
         "  mkpatch verify FILE          every structural check, every entry decoded;\n"
         "                               exit 1 on problems\n"
         "  mkpatch extract FILE DIR [--base-dir GAMEDIR]\n"
         "      Writes the decoded entries below DIR; deltas apply to GAMEDIR's files.\n"
         "  mkpatch check UPDATER GAMEDIR [--json]\n"
         "      Dry run: whether UPDATER would apply to the game in GAMEDIR and what\n"
         "      it would do with each entry; writes nothing. Exit 1 when it would not.\n"
         "exit codes: 0 ok, 1 invalid input, 2 usage error\n";
}
