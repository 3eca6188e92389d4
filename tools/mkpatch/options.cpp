#include "options.h"

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

bool ParseBuild(const std::vector<std::string>& args, Options* options, std::string* error) {
  bool haveBase = false, haveTarget = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-o" || arg == "--output") {
      if (!TakeValue(args, &i, &options->output, error)) return false;
    } else if (arg == "--stub") {
      if (!TakeValue(args, &i, &options->stub, error)) return false;
      if (options->stub.empty()) {
        *error = "--stub needs a file";
        return false;
      }
    } else if (arg == "--base") {
      if (!TakeValue(args, &i, &options->baseVersion, error)) return false;
      haveBase = true;
    } else if (arg == "--target") {
      if (!TakeValue(args, &i, &options->targetVersion, error)) return false;
      haveTarget = true;
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
  if (options->output.empty()) {
    *error = "build needs -o OUT";
    return false;
  }
  if (!haveBase || !haveTarget) {
    *error = "build needs --base and --target";
    return false;
  }
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
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json" && (command == "list" || command == "check")) {
      options->json = true;
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
         "  mkpatch build -o OUT [--stub STUB] --base VERSION --target VERSION\n"
         "                [--replace-payload] [--name NAME=PATH]... [INPUT]...\n"
         "      Appends a payload to STUB (without --stub: a bare .tpk package).\n"
         "      A file INPUT becomes one entry named by its file name; a directory\n"
         "      INPUT adds every file below it under its relative path (with '\\').\n"
         "      --name gives one file an explicit entry name (empty: the package\n"
         "      installed as toplevel.tpk). VERSION is four numbers, e.g. 1.4.1.34242.\n"
         "  mkpatch list FILE [--json]   versions and entries\n"
         "  mkpatch verify FILE          every structural check; exit 1 on problems\n"
         "  mkpatch extract FILE DIR     writes the entries below DIR\n"
         "  mkpatch check UPDATER GAMEDIR [--json]\n"
         "      Dry run: whether UPDATER would apply to the game in GAMEDIR and what\n"
         "      it would do with each entry; writes nothing. Exit 1 when it would not.\n"
         "exit codes: 0 ok, 1 invalid input, 2 usage error\n";
}
