#include "app/settings_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/configuration.h"
#include "common/line_reader.h"
#include "support/recording.h"

namespace p50x {
namespace {

// The console lines the check writes for a configuration file's text.
std::string checked(const std::string& text, bool* usable = nullptr) {
  test::RecordingConsole console;
  Configuration config;
  MemoryBytes bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  EXPECT_TRUE(config.readLines(bytes, console));
  console.clear();
  const bool ok = checkSettings(config, console);
  if (usable != nullptr) *usable = ok;
  EXPECT_EQ(ok, console.outText().empty());
  return console.outText();
}

const std::string kRates =
    "50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, "
    "115200, 230400, 460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000, "
    "2500000, 3000000, 3500000, 4000000";

// Each bad value gives one line that names the key, what it sets, the value as
// written and why it cannot be used.
TEST(SettingsCheck, EachBadValueIsNamedWithItsReason) {
  struct Case {
    std::string line;
    std::string expected;  // after "Config.txt:1: Einstellung "
  };
  const std::string ipv4 =
      "keine IPv4-Adresse in Punktschreibweise wie 127.0.0.1 (Namen werden nicht "
      "nachgeschlagen).";
  const std::string portRange = "liegt nicht zwischen 1 und 65535.";
  const std::string portText = "keine ganze Dezimalzahl von 1 bis 65535.";
  const std::string tag = "keine ganze Zahl von -2147483648 bis 2147483647.";
  const std::vector<Case> cases = {
      {"5;localhost", "5 (Host-Adresse) \"localhost\": " + ipv4},
      {"5;not-an-ip", "5 (Host-Adresse) \"not-an-ip\": " + ipv4},
      {"5;127.0.0.1 ",
       "5 (Host-Adresse) \"127.0.0.1 \": Leerzeichen am Anfang oder Ende des Werts."},
      {"5;127.0.0.01", "5 (Host-Adresse) \"127.0.0.01\": " + ipv4},
      {"5;256.1.1.1", "5 (Host-Adresse) \"256.1.1.1\": " + ipv4},
      {"5;1.2.3", "5 (Host-Adresse) \"1.2.3\": " + ipv4},
      {"7;0", "7 (Ereignis-Port) \"0\": " + portRange},
      {"7;65536", "7 (Ereignis-Port) \"65536\": " + portRange},
      {"7;99999999999", "7 (Ereignis-Port) \"99999999999\": " + portRange},
      {"7;-1", "7 (Ereignis-Port) \"-1\": " + portRange},
      {"7;31286abc", "7 (Ereignis-Port) \"31286abc\": " + portText},
      {"8;65536+5", "8 (Befehls-Port) \"65536+5\": " + portText},
      {"8; 31285", "8 (Befehls-Port) \" 31285\": Leerzeichen am Anfang oder Ende des Werts."},
      {"9;57601",
       "9 (Baudrate) \"57601\": keine Baudrate dieses Systems; moeglich sind " + kRates + "."},
      {"9;fast", "9 (Baudrate) \"fast\": keine ganze Dezimalzahl; moeglich sind " + kRates + "."},
      {"10;abc", "10 (Kennung der Geschwindigkeitsmeldung) \"abc\": " + tag},
      {"10;2147483648", "10 (Kennung der Geschwindigkeitsmeldung) \"2147483648\": " + tag},
      {"6;" + std::string(120, 'm'),
       "6 (Monitordatei) \"" + std::string(97, 'm') +
           "...\": Zeile mit 122 Zeichen, hoechstens 99; der Wert wird nicht gekuerzt."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checked(c.line + "\n"), "Config.txt:1: Einstellung " + c.expected + "\n") << c.line;
  }
}

TEST(SettingsCheck, GoodValuesAndDefaultsPass) {
  bool usable = false;
  EXPECT_EQ(checked("", &usable), "");
  EXPECT_TRUE(usable);
  EXPECT_EQ(checked("1;Loks.txt\n4;/dev/ttyUSB0\n5;192.168.1.7\n6;monitor.txt\n7;1\n8;65535\n"
                    "9;19200\n10;-5\n7;031286\n",
                    &usable),
            "");
  EXPECT_TRUE(usable);
}

TEST(SettingsCheck, EveryBadSettingIsNamedNotOnlyTheFirstAndALaterLineWins) {
  bool usable = true;
  EXPECT_EQ(
      checked("# ports\n7;65536\n8;0\n9;57601\n9;57600\n", &usable),
      "Config.txt:2: Einstellung 7 (Ereignis-Port) \"65536\": liegt nicht zwischen 1 und "
      "65535.\n"
      "Config.txt:3: Einstellung 8 (Befehls-Port) \"0\": liegt nicht zwischen 1 und 65535.\n");
  EXPECT_FALSE(usable);
}

}  // namespace
}  // namespace p50x
