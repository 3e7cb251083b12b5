// p50x-bridge [CONFIG] | --check [CONFIG] | -h | --help | -V | --version:
// what the first argument asks for. Anything else that starts with "-" is no file a user
// meant: it is refused instead of being read as the configuration file.
#pragma once

#include "diag/console.h"

namespace p50x {

struct CommandLine {
  enum class Action { kRun, kCheck, kHelp, kVersion, kRefuse };
  Action action = Action::kRun;
  // kRun, kCheck: the configuration file, or nullptr for the default.
  // kRefuse: the argument refused.
  const char* argument = nullptr;
  // kRefuse: it is an argument too many, not an unknown option.
  bool surplus = false;
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// For every action but kRun: writes its answer (help and version on standard
// output; a refusal and the usage on standard error; the check's lines where
// start-up writes them) and returns the exit status: 0, 1 for a check that
// failed, or 2 for a refusal.
int answerCommandLine(const CommandLine& commandLine, Console& console);

// The usage that --help prints.
extern const char* const kUsageText;

// The project's version: what --version and the start-up line show.
extern const char* const kVersion;

}  // namespace p50x
