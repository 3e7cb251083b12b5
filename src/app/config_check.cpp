#include "app/config_check.h"

#include <atomic>
#include <string>
#include <vector>

#include "app/configuration.h"
#include "app/setting_names.h"
#include "app/settings_check.h"
#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "seams/host_sender.h"

namespace p50x {

namespace {

// Passes every text on and notes whether one was a notice, so the verdict
// can say whether the lines above it hold any. The "Config-Datei:" line that
// every read of the configuration begins with is none. Threads: any that
// writes through it; the flag is atomic and the target guards itself.
class NoticeWatch final : public Console {
 public:
  explicit NoticeWatch(Console& target) : target_(target) {}
  void out(std::string_view text) override {
    if (!text.starts_with("Config-Datei:")) seen_ = true;
    target_.out(text);
  }
  void err(std::string_view text) override {
    seen_ = true;
    target_.err(text);
  }
  bool seen() const { return seen_.load(); }

 private:
  Console& target_;
  std::atomic<bool> seen_{false};
};

// The start message the locomotive list sends after loading goes nowhere.
class NoHost final : public HostSender {
 public:
  void post(const char*) override {}
};

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void showSettings(const Configuration& config, Console& console) {
  console.out("Einstellungen:\n");
  for (int key = 1; key < Configuration::kSlots; ++key) {
    const int line = config.origin(key).line;
    const char* value = config.value(key);
    const std::string from = line > 0 ? "Zeile " + std::to_string(line) : std::string("Vorgabe");
    console.print("  %2d %-36s %s (%s)\n", key, settingName(key),
                  *value != '\0' ? value : "leer, aus", from.c_str());
  }
}

// One line per entry that a later line hides or doubles, at the earlier line.
// `hidden`: what a lookup never reaches when the later line has its name;
// nullptr where nothing is looked up by name and only the host is confused.
void showDuplicates(const char* file, const std::vector<ListDuplicate>& found, const char* what,
                    const char* hidden, Console& console) {
  for (const ListDuplicate& d : found) {
    if (d.key == ListDuplicate::Key::kAddress) {
      console.print("%s:%d: Adresse %d auch in Zeile %d, die gilt: %s \"%s\" wird nie erreicht.\n",
                    file, d.line, d.address, d.laterLine, what, d.name.c_str());
    } else if (hidden != nullptr) {
      console.print("%s:%d: Name \"%s\" auch in Zeile %d, die gilt: %s.\n", file, d.line,
                    d.name.c_str(), d.laterLine, hidden);
    } else {
      console.print(
          "%s:%d: Name \"%s\" auch in Zeile %d: der Host kann beide nicht unterscheiden.\n", file,
          d.line, d.name.c_str(), d.laterLine);
    }
  }
}

}  // namespace

int checkConfiguration(const char* configPath, Console& console) {
  static constexpr const char* kEnds = "Ergebnis: Fehler oben; der Start endete hier.\n";
  NoticeWatch watch(console);
  Configuration config;
  if ((configPath != nullptr && !config.setConfigPath(configPath, watch)) ||
      !config.readFile(watch)) {
    console.out(kEnds);
    return 1;
  }
  const bool usable = checkSettings(config, watch);

  // Loaded as start-up loads them, in its order, with its notices. The lists
  // of refused settings are still read, so every problem shows at once.
  NoHost noHost;
  FeedbackImage feedback(watch);
  feedback.load(config.feedbackFile());
  LocoTable locos(watch, noHost);
  locos.load(config.locoFile());
  TurnoutTable turnouts(watch, noHost);
  turnouts.load(config.turnoutFile());

  showSettings(config, console);
  console.print("%-17s%s aus %s\n",
                "Lokliste:", counted(locos.count(), "Lokomotive", "Lokomotiven").c_str(),
                config.locoFile());
  console.print("%-17s%s aus %s\n",
                "Weichenliste:", counted(turnouts.count(), "Weiche", "Weichen").c_str(),
                config.turnoutFile());
  console.print("%-17s%s in %s aus %s\n",
                "Rueckmeldeliste:", counted(feedback.count(), "Kontakt", "Kontakte").c_str(),
                counted(static_cast<int>(feedback.highestModule()), "Modul", "Modulen").c_str(),
                config.feedbackFile());
  showDuplicates(config.locoFile(), locos.duplicates(), "die Lok", nullptr, watch);
  showDuplicates(config.turnoutFile(), turnouts.duplicates(), "die Weiche", nullptr, watch);
  showDuplicates(config.feedbackFile(), feedback.duplicates(), "der Kontakt",
                 "die Meldungen des Hosts erreichen diesen Kontakt nie", watch);
  // The station's event replies have room for so many; the rest is never
  // reported to the control software.
  if (locos.count() > LocoTable::kMaxReportedLocos) {
    watch.print("%s: XEvtLok meldet nur %d der %d Lokomotiven (die der letzten Zeilen).\n",
                config.locoFile(), LocoTable::kMaxReportedLocos, locos.count());
  }
  if (feedback.highestModule() > FeedbackImage::kMaxReportedModules) {
    watch.print("%s: XEvtSen meldet nur die Module 1 bis %u, nicht Modul %u.\n",
                config.feedbackFile(), FeedbackImage::kMaxReportedModules,
                feedback.highestModule());
  }

  if (!usable) {
    console.out(kEnds);
    return 1;
  }
  console.out(watch.seen()
                  ? "Ergebnis: Hinweise oben; der Start kaeme trotzdem ueber die Dateien hinaus.\n"
                  : "Ergebnis: in Ordnung; der Start kaeme ueber die Dateien hinaus.\n");
  return 0;
}

}  // namespace p50x
