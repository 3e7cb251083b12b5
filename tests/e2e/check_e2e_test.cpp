// p50x-bridge --check on good and bad files: the built binary, as a service's
// owner runs it before a restart. Each case also proves that the check opens
// nothing: the pty: link of the configuration never appears and the host
// simulator on the configured ports is never connected to.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "bridge_fixture.h"

namespace p50x::test {
namespace {

class CheckEndToEnd : public BridgeEndToEnd {
 protected:
  // The check with `args` in the test folder, to its end; its exit status.
  int check(const std::vector<std::string>& args) {
    bridge_ = std::make_unique<BridgeProcess>();
    EXPECT_TRUE(bridge_->start(P50X_BRIDGE_PATH, args, dir_));
    return bridge_->waitForExit();
  }

  // Connects once to each host port and waits until the simulator has taken
  // both: it takes connections in the order they came, so any that the check
  // had made would have been counted first.
  int connectionsMadeByOthers() {
    for (const int port : {host_->eventPort(), host_->commandPort()}) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(port));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      probes_.push_back(fd);
      ++probesMade_;
    }
    EXPECT_TRUE(host_->waitForConnections(probesMade_, 5s));
    const int others = host_->connectionCount() - probesMade_;
    for (const int fd : probes_) ::close(fd);
    probes_.clear();
    return others;
  }

  bool ptyLinkExists() const {
    struct stat info {};
    return ::lstat((dir_ + "/tty").c_str(), &info) == 0;
  }

  std::vector<int> probes_;
  int probesMade_ = 0;
};

struct CheckCase {
  const char* name;
  // Lines after the standard settings (a later line wins), and files to write.
  std::string extraSettings;
  std::vector<std::pair<std::string, std::string>> files;
  int status;
  std::vector<std::string> lines;  // each expected as a whole line, in this order
};

bool hasLinesInOrder(const std::string& text, const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const std::size_t found = text.find(line + "\n", at);
    if (found == std::string::npos || (found > 0 && text[found - 1] != '\n')) return false;
    at = found + line.size();
  }
  return true;
}

TEST_F(CheckEndToEnd, NamesProblemsAndOpensNothing) {
  const std::string loaded = "Lokliste:        1 Lokomotive aus Loks.txt";
  const std::vector<CheckCase> cases = {
      {"good files",
       "",
       {},
       0,
       {"Config-Datei:            Config.txt",
        "Einstellungen:", "   1 Lokliste                             Loks.txt (Zeile 1)",
        "   6 Monitordatei                         monitor.txt (Zeile 6)", loaded,
        "Weichenliste:    2 Weichen aus Weichen.txt",
        "Rueckmeldeliste: 3 Kontakte in 3 Modulen aus Melder.txt",
        "Ergebnis: in Ordnung; der Start kaeme ueber die Dateien hinaus."}},
      {"bad settings end start-up",
       "7;0\n9;12345\n11;x\n",
       {},
       1,
       {"Config.txt:13: kein Schluessel 1 bis 10; Zeile uebergangen: 11;x",
        "Config.txt:11: Einstellung 7 (Ereignis-Port) \"0\": liegt nicht zwischen 1 und 65535.",
        "   9 Baudrate                             12345 (Zeile 12)", loaded,
        "Ergebnis: Fehler oben; der Start endete hier."}},
      {"list problems and duplicates are named, start-up goes on",
       "",
       {{"Loks.txt", "Lok1;3;0;2;28;100;80\nLok2;3;0;2;28;100;80\nLok1;4;0;7;28;1;1\nLok3;x;0\n"},
        {"Melder.txt", "K1;1;1\nK1;1;2\nK2;1;17\n"},
        {"Weichen.txt", "W1;5;0;1;6\nW2;5;0;0;0\n"}},
       0,
       {// Loaded in start-up's order: contacts, locomotives, turnouts.
        "Melder.txt:3: Feld 3 (Kontakt) 17 liegt nicht zwischen 1 und 16; Zeile uebersprungen.",
        "Loks.txt:3: Fahrstufenmodus 7 unbekannt (0 bis 3): XLokX aendert die Geschwindigkeit "
        "von Lok1 nicht.",
        "Loks.txt:4: 3 statt 7 Felder; Zeile uebersprungen: Lok3;x;0",
        "Lokliste:        3 Lokomotiven aus Loks.txt",
        "Rueckmeldeliste: 2 Kontakte in 1 Modul aus Melder.txt",
        "Loks.txt:1: Adresse 3 auch in Zeile 2, die gilt: die Lok \"Lok1\" wird nie erreicht.",
        "Loks.txt:1: Name \"Lok1\" auch in Zeile 3: der Host kann beide nicht unterscheiden.",
        "Weichen.txt:1: Adresse 5 auch in Zeile 2, die gilt: die Weiche \"W1\" wird nie erreicht.",
        "Melder.txt:1: Name \"K1\" auch in Zeile 2, die gilt: die Meldungen des Hosts erreichen "
        "diesen Kontakt nie.",
        "Ergebnis: Hinweise oben; der Start kaeme trotzdem ueber die Dateien hinaus."}},
      {"a missing list is said, start-up goes on",
       "3;Fehlt.txt\n",
       {},
       0,
       {"Weichenliste:    0 Weichen aus Fehlt.txt",
        "Ergebnis: Hinweise oben; der Start kaeme trotzdem ueber die Dateien hinaus."}},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir_ + "/Loks.txt", "Lok1;3;0;2;28;100;80\n");
    writeFile(dir_ + "/Weichen.txt", "W1;5;0;1;6\nW2;6;0;0;0\n");
    writeFile(dir_ + "/Melder.txt", "K1;1;1\nK2;2;16\nK3;3;9\n");
    for (const auto& [file, text] : c.files) writeFile(dir_ + "/" + file, text);
    writeFile(dir_ + "/Config.txt",
              config(serialPort_, host_->eventPort(), host_->commandPort()) + c.extraSettings);

    EXPECT_EQ(check({"--check", "Config.txt"}), c.status) << bridge_->output() << bridge_->errors();
    EXPECT_TRUE(hasLinesInOrder(bridge_->output(), c.lines)) << bridge_->output();
    EXPECT_FALSE(ptyLinkExists());
    EXPECT_EQ(connectionsMadeByOthers(), 0);
  }
  EXPECT_EQ(readFile(dir_ + "/monitor.txt"), "") << "the monitor file is not touched";
}

TEST_F(CheckEndToEnd, RefusesAMissingFileAndWrongCalls) {
  EXPECT_EQ(check({"--check", "Fehlt.conf"}), 1);
  EXPECT_EQ(bridge_->output(),
            "Config-Datei:            Fehlt.conf\nErgebnis: Fehler oben; der Start endete hier.\n");
  EXPECT_EQ(bridge_->errors(),
            "Fehler beim Zugriff auf die Konfigurationsdatei.\n: No such file or directory\n");

  // Without a file the default is checked, as start-up reads it.
  EXPECT_EQ(check({"--check"}), 1);
  EXPECT_NE(bridge_->output().find("Config-Datei:            Config.txt\n"), std::string::npos);

  EXPECT_EQ(check({"--check", "a.conf", "b.conf"}), 2);
  EXPECT_EQ(bridge_->errors().rfind("p50x-bridge: one configuration file at a time, not also "
                                    "b.conf\n",
                                    0),
            0u);
  EXPECT_EQ(check({"--check", "-x"}), 2);
  EXPECT_EQ(bridge_->errors().rfind("p50x-bridge: unknown option -x", 0), 0u);
  EXPECT_FALSE(ptyLinkExists());
  EXPECT_EQ(connectionsMadeByOthers(), 0);
}

}  // namespace
}  // namespace p50x::test
