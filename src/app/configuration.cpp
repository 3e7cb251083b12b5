#include "app/configuration.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/text.h"

namespace p50x {

namespace {
constexpr const char* kDefaults[Configuration::kSlots] = {
    "Config.txt",  // ConfigPath
    "Frei",        // LocoFile
    "Frei",        // FeedbackFile
    "Frei",        // TurnoutFile
    "NULL",        // SerialPortName
    "127.0.0.1",   // HostAddress
    "",            // MonitorFile (empty: no monitor)
    "31286",       // EventPort
    "31285",       // CommandPort
    "57600",       // SerialBaud
    "1",           // SpeedReportTag
};

// The file is read in pieces of at most 99 characters, as it always was.
constexpr int kLineBuffer = 100;
}  // namespace

Configuration::Configuration() {
  for (int i = 0; i < kSlots; ++i) copyField(slots_[i], kSlotSize, kDefaults[i]);
}

bool Configuration::setConfigPath(const char* path, Console& console) {
  if (path == nullptr) return false;
  if (std::strlen(path) >= kSlotSize) {
    // Cutting the path would silently read another file; refuse it instead.
    // %d, not %zu: the Windows runtime's printf checks know no size_t length.
    console.print("Pfad der Konfigurationsdatei zu lang (hoechstens %d Zeichen): %s\n",
                  static_cast<int>(kSlotSize - 1), path);
    return false;
  }
  copyField(slots_[0], kSlotSize, path);
  return true;
}

void Configuration::applyLine(char* line) {
  if (line[0] == '#') return;
  // The line ends at its first CR or LF, except in the very first position.
  for (char* p = line + (line[0] != '\0' ? 1 : 0); *p != '\0'; ++p) {
    if (*p == '\r' || *p == '\n') {
      *p = '\0';
      break;
    }
  }
  TokenCursor tokens(line, ';');
  const char* keyText = tokens.next();
  if (keyText == nullptr) return;
  const int key = toInt(keyText);
  if (key < 1 || key >= kSlots) return;
  const char* value = tokens.next();
  if (value == nullptr) return;
  copyField(slots_[key], kSlotSize, value);
}

bool Configuration::readFile(Console& console) {
  console.print("%-25s%s\n", "Config-Datei:", configPath());
  std::FILE* file = std::fopen(configPath(), "r");
  if (file == nullptr) {
    console.perror("Fehler beim Zugriff auf die Konfigurationsdatei.\n", errno);
    return false;
  }
  char line[kLineBuffer];
  while (std::fgets(line, sizeof line, file) != nullptr) applyLine(line);
  std::fclose(file);
  return true;
}

}  // namespace p50x
