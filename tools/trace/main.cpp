// p50x-trace [-f] [-x] [MONITOR-FILE]: the monitor file of p50x-bridge in words.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "follower.h"
#include "monitor_reader.h"
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
    "  -h, --help     this text\n"
    "  -V, --version  the program's name and version\n"
    "\n"
    "Example: p50x-trace -f monitor.txt\n";

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "p50x-trace: %s (see --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool follow = false;
  p50x::trace::TraceOptions options;
  options.arrow = P50X_TRACE_ARROW;
  std::string path;
  bool havePath = false;

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

  p50x::trace::TraceDecoder decoder(printLine, options);
  p50x::trace::MonitorReader reader(decoder);

  if (follow) {
    if (fromInput) return usageError("-f follows a file: name it");
    p50x::trace::Follower follower(
        path, reader, decoder, [] { std::fflush(stdout); },
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
  std::fflush(stdout);
  return 0;
}
