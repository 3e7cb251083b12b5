#include "app/command_line.h"

#include <cstring>
#include <string>

#include "app/config_check.h"

#ifndef P50X_VERSION
#error "P50X_VERSION must be defined by the build (the project version)"
#endif

namespace p50x {

const char* const kVersion = P50X_VERSION;

const char* const kUsageText =
    "Usage: p50x-bridge [CONFIG]\n"
    "       p50x-bridge --check [CONFIG]\n"
    "       p50x-bridge -h | --help\n"
    "       p50x-bridge -V | --version\n"
    "\n"
    "Plays a P50/P50X command station on a serial line and reports to a host\n"
    "application over TCP.\n"
    "\n"
    "CONFIG is the configuration file (default: Config.txt): one \"key;value\" line\n"
    "per setting, \"#\" at the start of a comment line. Keys:\n"
    "   1  locomotive list file                              (default Frei)\n"
    "   2  feedback contact list file                        (default Frei)\n"
    "   3  turnout list file                                 (default Frei)\n"
    "   4  serial port: /dev/ttyUSB0, COM3, or pty:PATH      (default NULL)\n"
    "   5  host address, dotted IPv4 (no name lookup)        (default 127.0.0.1)\n"
    "   6  monitor file, a hex log of all serial traffic     (default empty: off)\n"
    "   7  host event port, 1 to 65535                       (default 31286)\n"
    "   8  host command port, 1 to 65535                     (default 31285)\n"
    "   9  baud rate, for example 19200 or 57600             (default 57600)\n"
    "  10  speed report tag, put into every speed message    (default 1)\n"
    "Every value is checked at start-up; a bad one is named with its line.\n"
    "\n"
    "--check reads and checks CONFIG and its three lists as start-up does, opens\n"
    "no serial port and no connection, and prints every problem, the settings in\n"
    "effect and what the lists hold. Exit status 0 when start-up would get past\n"
    "the files, 1 when it would end there.\n"
    "\n"
    "ESC ends the bridge; so do Ctrl-C, SIGTERM and SIGHUP. Exit status: 1 after\n"
    "a run, 0 for --help and --version, 2 for an unknown option.\n"
    "\n"
    "More: man p50x-bridge, and the README.\n";

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine result;
  if (argc < 2 || argv[1] == nullptr) return result;
  const char* first = argv[1];
  if (std::strcmp(first, "-h") == 0 || std::strcmp(first, "--help") == 0) {
    result.action = CommandLine::Action::kHelp;
  } else if (std::strcmp(first, "-V") == 0 || std::strcmp(first, "--version") == 0) {
    result.action = CommandLine::Action::kVersion;
  } else if (std::strcmp(first, "--check") == 0) {
    result.action = CommandLine::Action::kCheck;
    const char* config = argc > 2 ? argv[2] : nullptr;
    if (config != nullptr && config[0] == '-') {
      result.action = CommandLine::Action::kRefuse;
      result.argument = config;
    } else if (argc > 3 && argv[3] != nullptr) {
      // A second file would be checked by nobody, and the user would not know.
      result.action = CommandLine::Action::kRefuse;
      result.argument = argv[3];
      result.surplus = true;
    } else {
      result.argument = config;
    }
  } else if (first[0] == '-') {
    result.action = CommandLine::Action::kRefuse;
    result.argument = first;
  } else {
    result.argument = first;
  }
  return result;
}

int answerCommandLine(const CommandLine& commandLine, Console& console) {
  switch (commandLine.action) {
    case CommandLine::Action::kHelp:
      console.out(kUsageText);
      return 0;
    case CommandLine::Action::kVersion:
      console.print("p50x-bridge %s\n", kVersion);
      return 0;
    case CommandLine::Action::kCheck:
      return checkConfiguration(commandLine.argument, console);
    case CommandLine::Action::kRefuse:
      if (commandLine.surplus) {
        console.err(std::string("p50x-bridge: one configuration file at a time, not also ") +
                    commandLine.argument + "\n\n" + kUsageText);
        return 2;
      }
      // A configuration file whose name starts with "-" is still reachable
      // as ./-name.
      console.err(std::string("p50x-bridge: unknown option ") + commandLine.argument +
                  " (a configuration file starting with \"-\" is given as ./NAME)\n\n" +
                  kUsageText);
      return 2;
    case CommandLine::Action::kRun:
      break;
  }
  return 0;
}

}  // namespace p50x
