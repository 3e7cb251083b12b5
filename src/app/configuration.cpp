#include "app/configuration.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "app/setting_names.h"
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

constexpr const char* kAccessFailure = "Fehler beim Zugriff auf die Konfigurationsdatei.\n";

// A file that cannot serve as the configuration is refused in the form of a
// missing one: the classic text, then the reason where perror puts it.
void refuse(Console& console, const std::string& reason) {
  console.err(std::string(kAccessFailure) + ": " + reason + "\n");
}
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

void Configuration::applyLine(const TextLine& line, Console& console) {
  if (line.text[0] == '#') return;
  if (isBlank(line.text) && !line.tooLong()) return;
  char text[TextLine::kMaxLength + 1];
  copyField(text, sizeof text, line.text);
  TokenCursor tokens(text, ';');
  const char* keyText = tokens.next();
  const int key = keyText != nullptr ? toInt(keyText) : 0;
  if (key < 1 || key >= kSlots) {
    // Nothing is ignored without a word: a mistyped key would otherwise leave
    // its setting at the default and the user guessing why.
    console.print("%s:%d: kein Schluessel 1 bis 10; Zeile uebergangen: %s%s\n", configPath(),
                  line.number, line.text, line.tooLong() ? "..." : "");
    return;
  }
  const char* value = tokens.next();
  Origin origin;
  origin.line = line.number;
  origin.length = line.length;
  origin.tooLong = line.tooLong();
  if (value != nullptr) copyField(origin.written, kSlotSize, value);
  if (origin.tooLong) {
    // Never cut: a cut monitor file name writes somewhere else. The slot keeps
    // its earlier value and the check refuses the setting.
    origins_[key] = origin;
    return;
  }
  if (value == nullptr) {
    console.print("%s:%d: Einstellung %d (%s) ohne Wert; Zeile uebergangen.\n", configPath(),
                  line.number, key, settingName(key));
    return;
  }
  copyField(slots_[key], kSlotSize, value);
  origins_[key] = origin;
}

bool Configuration::readLines(ByteSource& source, Console& console) {
  LineReader lines(source);
  TextLine line;
  while (lines.next(line)) {
    if (lines.startsAsUtf16()) {
      refuse(console, "UTF-16-Text; bitte als UTF-8 oder ANSI speichern");
      return false;
    }
    // A binary file read as settings would run the bridge on its defaults.
    if (line.hasZeroByte) {
      refuse(console, "keine Textdatei (Nullbyte in Zeile " + std::to_string(line.number) + ")");
      return false;
    }
    applyLine(line, console);
  }
  return true;
}

bool Configuration::readFile(Console& console) {
  console.print("%-25s%s\n", "Config-Datei:", configPath());
  FileBytes file;
  if (const int error = file.open(configPath()); error != 0) {
    refuse(console, fileErrorText(error));
    return false;
  }
  if (!readLines(file, console)) return false;
  if (const int error = file.readError(); error != 0) {
    refuse(console, fileErrorText(error));
    return false;
  }
  return true;
}

}  // namespace p50x
