// p50x-trace [-f] [-x] [--state [--locos FILE]] [MONITOR-FILE]: the monitor
// file of p50x-bridge in words, or the station's state it shows.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "diag/console.h"
#include "follower.h"
#include "loco_names.h"
#include "monitor_reader.h"
#include "platform/terminal.h"
#include "station_view.h"
#include "trace_decoder.h"

#ifndef P50X_VERSION
#define P50X_VERSION "unknown"
#endif
#ifndef P50X_TRACE_ARROW
#define P50X_TRACE_ARROW "\xE2\x86\x92"
#endif

namespace {

const char* const kUsage =
    "Usage: p50x-trace [-f] [-x] [MONITOR-FILE]\n"
    "       p50x-trace --state [-f] [--locos FILE] [MONITOR-FILE]\n"
    "\n"
    "Shows the monitor file of p50x-bridge (setting 6 of its configuration) in\n"
    "words: one line per command received from the control software, with the\n"
    "station's reply behind the arrow. Text commands show as text, the mode\n"
    "switches xZzA1 and ZzA0 are marked, and bytes that pair with nothing show\n"
    "in hex. Without a file, or with -, it reads standard input.\n"
    "\n"
    "Options:\n"
    "  -f, --follow   start at the bridge's latest start in the file and keep\n"
    "                 showing what is added, until interrupted (Ctrl-C)\n"
    "  -x, --hex      add the bytes of each command and its reply\n"
    "  -s, --state    instead of the lines, the station's state at the end of the\n"
    "                 latest run: track power and halt, the mode, each\n"
    "                 locomotive commanded, each turnout switched, the contacts\n"
    "                 last reported occupied; with -f redrawn as it changes\n"
    "  -l, --locos FILE  with --state: names from the bridge's locomotive list\n"
    "  -h, --help     this text\n"
    "  -V, --version  the program's name and version\n"
    "\n"
    "Examples: p50x-trace -f monitor.txt\n"
    "          p50x-trace --state --locos Loks.txt monitor.txt\n";

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "p50x-trace: %s (see --help)\n", message.c_str());
  return 2;
}

// The list reader's notices about lines it skips go with the errors, so that
// the state on standard output stays the state alone. Threads: the main
// thread only.
class ErrorsOnly final : public p50x::Console {
 public:
  void out(std::string_view text) override { console_.err(text); }
  void err(std::string_view text) override { console_.err(text); }

 private:
  p50x::StdConsole console_;
};

// Shows the state when it differs from what was shown last: redrawn in place
// on a terminal, else as a new block after a blank line. Threads: the main
// thread only (the follower calls back on it).
class StateScreen {
 public:
  explicit StateScreen(const p50x::trace::StationView& view, bool inPlace)
      : view_(view), inPlace_(inPlace) {}

  void show() {
    const std::vector<std::string> lines = view_.lines();
    if (lines == shown_) return;
    if (inPlace_) {
      std::fputs("\x1b[H\x1b[J", stdout);
    } else if (!shown_.empty()) {
      std::fputc('\n', stdout);
    }
    for (const std::string& line : lines) printLine(line);
    std::fflush(stdout);
    shown_ = lines;
  }

 private:
  const p50x::trace::StationView& view_;
  bool inPlace_;
  std::vector<std::string> shown_;
};

}  // namespace

int main(int argc, char** argv) {
  bool follow = false;
  p50x::trace::TraceOptions options;
  options.arrow = P50X_TRACE_ARROW;
  std::string path;
  bool havePath = false;
  bool state = false;
  const char* locoList = nullptr;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-V" || arg == "--version") {
      std::printf("p50x-trace %s\n", P50X_VERSION);
      return 0;
    }
    if (arg == "-f" || arg == "--follow") {
      follow = true;
    } else if (arg == "-x" || arg == "--hex") {
      options.hex = true;
    } else if (arg == "-s" || arg == "--state") {
      state = true;
    } else if (arg == "-l" || arg == "--locos") {
      if (i + 1 >= argc) return usageError(arg + " needs the locomotive list");
      locoList = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option " + arg);
    } else if (havePath) {
      return usageError("one monitor file at a time");
    } else {
      path = arg;
      havePath = true;
    }
  }
  const bool fromInput = !havePath || path == "-";
  if (locoList != nullptr && !state) return usageError("--locos names the locomotives of --state");
  if (follow && fromInput) return usageError("-f follows a file: name it");

  p50x::trace::StationView view;
  if (locoList != nullptr) {
    ErrorsOnly notices;
    std::map<int, std::string> names;
    if (const int error = p50x::trace::readLocoNames(locoList, notices, names); error != 0) {
      std::fprintf(stderr, "p50x-trace: cannot read %s: %s\n", locoList, std::strerror(error));
      return 1;
    }
    view.setLocoNames(std::move(names));
  }
  const p50x::trace::TraceDecoder::LineSink sink =
      state ? p50x::trace::TraceDecoder::LineSink([](const std::string&) {})
            : p50x::trace::TraceDecoder::LineSink(printLine);
  p50x::trace::TraceDecoder decoder(sink, options, state ? &view : nullptr);
  p50x::trace::MonitorReader reader(decoder);
  StateScreen screen(view, follow && p50x::platform::prepareRedrawInPlace());

  if (follow) {
    p50x::trace::Follower follower(
        path, reader, decoder,
        [state, &screen] {
          if (state) {
            screen.show();
          } else {
            std::fflush(stdout);
          }
        },
        [](const std::string& notice) {
          std::fprintf(stderr, "p50x-trace: %s\n", notice.c_str());
        });
    follower.run();
  }

  std::ifstream file;
  if (!fromInput) {
    file.open(path, std::ios::binary);
    if (!file) {
      const int error = errno;
      std::fprintf(stderr, "p50x-trace: cannot read %s: %s\n", path.c_str(), std::strerror(error));
      return 1;
    }
  }
  std::istream& in = fromInput ? std::cin : file;
  std::vector<char> chunk(64 * 1024);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    reader.feed(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) {
    std::fprintf(stderr, "p50x-trace: read error on %s\n",
                 fromInput ? "standard input" : path.c_str());
    return 1;
  }
  reader.finish();
  decoder.finish();
  if (state) screen.show();
  std::fflush(stdout);
  return 0;
}
