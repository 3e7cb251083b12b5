// What each key of the configuration file sets, as the console names it.
#pragma once

namespace p50x {

inline const char* settingName(int key) {
  static constexpr const char* kNames[] = {
      "Konfigurationsdatei",
      "Lokliste",
      "Rueckmeldeliste",
      "Weichenliste",
      "serieller Anschluss",
      "Host-Adresse",
      "Monitordatei",
      "Ereignis-Port",
      "Befehls-Port",
      "Baudrate",
      "Kennung der Geschwindigkeitsmeldung",
  };
  return key >= 0 && key < static_cast<int>(sizeof kNames / sizeof kNames[0]) ? kNames[key] : "?";
}

// The keys, where start-up texts name them.
enum SettingKey : int {
  kLocoFileKey = 1,
  kFeedbackFileKey = 2,
  kTurnoutFileKey = 3,
  kSerialPortKey = 4,
  kHostAddressKey = 5,
  kMonitorFileKey = 6,
  kEventPortKey = 7,
  kCommandPortKey = 8,
  kSerialBaudKey = 9,
  kSpeedReportTagKey = 10,
};

}  // namespace p50x
