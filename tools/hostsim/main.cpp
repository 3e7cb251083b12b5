// p50x-hostsim: the host simulator on the console.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

#include "host_simulator.h"
#include "script_line.h"
#include "text_escapes.h"

namespace {

using p50x::hostsim::HostSimulator;
using p50x::hostsim::Link;
using p50x::hostsim::Report;
using p50x::hostsim::ScriptLine;

const char* const kHelp =
    "Usage: p50x-hostsim [options]\n"
    "\n"
    "Plays the host application for p50x-bridge: listens on the event port and\n"
    "the command port, takes the bridge's four connections (on each port the\n"
    "first is the read connection, the second the write connection), answers\n"
    "every message that arrives on a write connection, prints every received\n"
    "message with a time stamp, and sends the events you type.\n"
    "\n"
    "Options:\n"
    "  --address A        listen on the dotted IPv4 address A (default 127.0.0.1)\n"
    "  --event-port N     the event port (default 31286; 0 picks a free port)\n"
    "  --command-port N   the command port (default 31285; 0 picks a free port)\n"
    "  --answer TEXT      the answer to every message (default \"OK\\n\"; escapes below)\n"
    "  --answer-delay MS  wait MS milliseconds before each answer\n"
    "  --answer-delay-max MS\n"
    "                     wait a random time from --answer-delay to MS ms before\n"
    "                     each answer, as a busy host application does\n"
    "  --no-answer        never answer: the bridge waits 2 s for each message\n"
    "  --command-link     send typed events on the command link instead of the\n"
    "                     event link\n"
    "  --script FILE      once the four connections are up, run the lines of FILE,\n"
    "                     then go on with standard input\n"
    "  --help             this text\n"
    "\n"
    "Input lines (typed or in a script):\n"
    "  150;1;K1           send the line as one chunk, without its line end, on the\n"
    "                     read connection of the event link (contact K1 occupied)\n"
    "  151;1;K1           contact K1 free; 21 project closed; 100;W1;1 turnout\n"
    "  c:150;1;K1         send on the command link's read connection (e: the event\n"
    "                     link's; cw: and ew: on a write connection)\n"
    "  sleep 500          wait 500 milliseconds\n"
    "  close event read   end a connection in order (event|command, read|write)\n"
    "  freeze 4000        hang for 4000 milliseconds: read and answer nothing,\n"
    "                     then answer what came meanwhile\n"
    "  quit               end the simulator\n"
    "  # text             a comment; empty lines do nothing\n"
    "In sent text \\n \\r \\t \\0 \\\\ and \\xHH stand for their bytes, so\n"
    "150;1;K1;\\n sends the line end too. Use e: before a text that would read\n"
    "as a command (e:sleep).\n"
    "\n"
    "Output: one line per event, \"HH:MM:SS.mmm link connection\" and then\n"
    "<- for a received message, -> for a sent event, or what happened.\n"
    "End of input keeps the simulator running; Ctrl-C ends it.\n";

// Observer calls come one at a time, but stdin errors come from the main
// thread: one guard for the output.
std::mutex outputMutex;

void printLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(outputMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string timeStamp(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()) % 1000;
  char text[32] = "??:??:??";
  {
    // localtime shares one buffer; the output guard covers it.
    std::lock_guard<std::mutex> lock(outputMutex);
    if (const std::tm* local = std::localtime(&seconds))
      std::strftime(text, sizeof text, "%H:%M:%S", local);
  }
  char full[48];
  std::snprintf(full, sizeof full, "%s.%03d", text, static_cast<int>(ms.count()));
  return full;
}

void show(const Report& r) {
  std::string line = timeStamp(r.time) + " ";
  if (r.kind == Report::kTrouble) {
    printLine(line + "!! " + r.text);
    return;
  }
  std::string where =
      std::string(p50x::hostsim::linkName(r.link)) + " " + p50x::hostsim::roleName(r.role);
  where.resize(14, ' ');
  line += where;
  switch (r.kind) {
    case Report::kConnected:
      line += "connected (connection " + std::to_string(r.connection + 1) + ")";
      break;
    case Report::kReceived:
      line += "<- " + p50x::hostsim::printable(r.text);
      break;
    case Report::kSent:
      line += "-> " + p50x::hostsim::printable(r.text);
      break;
    case Report::kDisconnected:
      line += r.text.empty() ? "closed" : "closed: " + r.text;
      break;
    case Report::kTrouble:
      break;
  }
  printLine(line);
}

bool parsePort(const char* text, int& port) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0 || value > 65535) return false;
  port = static_cast<int>(value);
  return true;
}

// Runs one line; false when it asks to quit.
bool runLine(HostSimulator& sim, const std::string& text, Link defaultLink) {
  const ScriptLine line = p50x::hostsim::parseScriptLine(text, defaultLink);
  switch (line.kind) {
    case ScriptLine::kNothing:
      return true;
    case ScriptLine::kQuit:
      return false;
    case ScriptLine::kError:
      printLine("?? " + line.text);
      return true;
    case ScriptLine::kSleep:
      return sim.pause(std::chrono::milliseconds(line.milliseconds));
    case ScriptLine::kFreeze: {
      sim.setFrozen(true);
      const bool going = sim.pause(std::chrono::milliseconds(line.milliseconds));
      sim.setFrozen(false);
      return going;
    }
    case ScriptLine::kClose:
      if (!sim.closeConnection(line.link, line.role)) {
        printLine(std::string("?? no open ") + p50x::hostsim::linkName(line.link) + " " +
                  p50x::hostsim::roleName(line.role) + " connection");
      }
      return true;
    case ScriptLine::kSend:
      if (!sim.sendEvent(line.text, line.link, line.role)) {
        printLine(std::string("?? not sent: no open ") + p50x::hostsim::linkName(line.link) + " " +
                  p50x::hostsim::roleName(line.role) + " connection");
      }
      return true;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  p50x::hostsim::Options options;
  Link defaultLink = Link::kEvent;
  const char* script = nullptr;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (arg == "--no-answer") {
      options.neverAnswer = true;
    } else if (arg == "--command-link") {
      defaultLink = Link::kCommand;
    } else if (arg == "--address" && hasValue) {
      options.address = argv[++i];
    } else if ((arg == "--event-port" || arg == "--command-port") && hasValue) {
      int& port = arg == "--event-port" ? options.eventPort : options.commandPort;
      if (!parsePort(argv[++i], port)) {
        std::fprintf(stderr, "p50x-hostsim: %s takes a port number 0 to 65535\n", arg.c_str());
        return 2;
      }
    } else if (arg == "--answer" && hasValue) {
      if (!p50x::hostsim::decodeEscapes(argv[++i], options.answer)) {
        std::fprintf(stderr, "p50x-hostsim: bad escape in --answer\n");
        return 2;
      }
    } else if ((arg == "--answer-delay" || arg == "--answer-delay-max") && hasValue) {
      char* end = nullptr;
      const long ms = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || ms < 0 || ms > 3600000) {
        std::fprintf(stderr, "p50x-hostsim: %s takes milliseconds\n", arg.c_str());
        return 2;
      }
      (arg == "--answer-delay" ? options.answerDelayMs : options.answerDelayMaxMs) =
          static_cast<int>(ms);
    } else if (arg == "--script" && hasValue) {
      script = argv[++i];
    } else {
      std::fprintf(stderr, "p50x-hostsim: unknown option or missing value: %s (see --help)\n",
                   arg.c_str());
      return 2;
    }
  }

  std::ifstream scriptFile;
  if (script != nullptr) {
    scriptFile.open(script);
    if (!scriptFile) {
      std::fprintf(stderr, "p50x-hostsim: cannot open script %s\n", script);
      return 2;
    }
  }

  HostSimulator sim(options);
  sim.setObserver(show);
  if (!sim.start()) {
    std::fprintf(stderr, "p50x-hostsim: %s\n", sim.error().c_str());
    return 1;
  }
  printLine("p50x-hostsim listening on " + options.address + ": event port " +
            std::to_string(sim.eventPort()) + ", command port " +
            std::to_string(sim.commandPort()) + " (--help for the input lines)");

  if (script != nullptr) {
    while (!sim.waitForConnections(4, std::chrono::hours(1))) {
    }
    std::string line;
    while (std::getline(scriptFile, line)) {
      if (!runLine(sim, line, defaultLink)) {
        sim.stop();
        return 0;
      }
    }
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!runLine(sim, line, defaultLink)) {
      sim.stop();
      return 0;
    }
  }
  // Without input (started in the background) it serves until it is ended.
  sim.waitForStop();
  return 0;
}
