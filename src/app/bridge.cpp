#include "app/bridge.h"

#include <chrono>
#include <string>

#include "app/callbacks.h"
#include "app/command_line.h"
#include "app/setting_names.h"
#include "app/settings_check.h"
#include "app/startup_causes.h"
#include "app/stoppable_step.h"
#include "common/text.h"
#include "layout/host_messages.h"

namespace p50x {

namespace {
constexpr int kEsc = 27;
// A serial adapter that went away is looked for again about once a second.
constexpr std::chrono::milliseconds kSerialReopenInterval{1000};
// At shutdown the host is given this long, in all, for what is still waiting.
constexpr std::chrono::milliseconds kHostDrainBudget{2000};
}  // namespace

Bridge::Bridge(Console& console, const char* monitorFailureText)
    : console_(console), monitorFailureText_(monitorFailureText) {}

Bridge::~Bridge() {
  shutDown();
}

int Bridge::run(int argc, const char* const* argv, const KeySourceFactory& openKeys) {
  if (startUp(argc, argv, openKeys)) consoleLoop();
  shutDown();
  return 1;
}

bool Bridge::startUp(int argc, const char* const* argv, const KeySourceFactory& openKeys) {
  console_.print("Version %s\n", kVersion);

  config_ = std::make_unique<Configuration>();
  if (argc > 1 && !config_->setConfigPath(argv[1], console_)) return false;
  if (!config_->readFile(console_)) return false;
  if (!checkSettings(*config_, console_)) return false;

  hostLinks_ = std::make_unique<HostLinks>(
      console_, config_->hostAddress(), toInt(config_->eventPort()), toInt(config_->commandPort()));
  hostLinks_->setCallback([this](HostConnection& link, int code) { onHost(link, code); });
  hostLinks_->setReplaySource(
      [this](std::vector<std::string>& m, HostLinks::CatchUp why) { replayFor(m, why); });
  if (hostLinks_->connectEventLink() != 0) {
    reportLinkFailure(console_, hostLinks_->connectFailure(HostLinks::kEventLink),
                      "Ereignis-Verbindung", kEventPortKey, config_->hostAddress(),
                      toInt(config_->eventPort()));
    return false;
  }

  parser_ = std::make_unique<HostEventParser>(console_, static_cast<LayoutEvents*>(this));

  if (hostLinks_->connectCommandLink() != 0) {
    reportLinkFailure(console_, hostLinks_->connectFailure(HostLinks::kCommandLink),
                      "Befehls-Verbindung", kCommandPortKey, config_->hostAddress(),
                      toInt(config_->commandPort()));
    return false;
  }

  serial_ = std::make_unique<SerialPort>(console_);
  serial_->setCallback([this](SerialPort& port, int code) { onSerial(port, code); });
  serial_->setReopenInterval(kSerialReopenInterval);
  const int baudRate = toInt(config_->serialBaud());
  const int result = serial_->open(config_->serialPortName(), baudRate, 0, 8, 1);
  if (result != 0) {
    console_.print("ERROR : com->connect %d\n", result);
    reportSerialFailure(console_, config_->serialPortName(), baudRate, result);
    return false;
  }
  keys_ = openKeys();
  if (!loadLayout()) return false;

  // From here on a lost host link is made again. The catch-up it sends reads
  // the tables, so it passes the gate and waits for the opening below.
  hostLinks_->startHealing();
  console_.out("\nESC=BREAK\n\n");
  // Input that arrived during start-up was held in the callbacks; it goes on now.
  gate_.open();
  return true;
}

bool Bridge::loadLayout() {
  assembler_ = std::make_unique<CommandAssembler>(*serial_, console_);

  FileListSource list;
  feedback_ = std::make_unique<FeedbackImage>(console_);
  if (!readList(config_->feedbackFile(), list)) return false;
  feedback_->load(list);

  station_ = std::make_unique<StationState>();

  locos_ = std::make_unique<LocoTable>(console_, *hostLinks_, toInt(config_->speedReportTag()));
  if (!readList(config_->locoFile(), list)) return false;
  locos_->load(list);

  turnouts_ = std::make_unique<TurnoutTable>(console_, *hostLinks_);
  if (!readList(config_->turnoutFile(), list)) return false;
  turnouts_->load(list);

  monitor_ = std::make_unique<TrafficMonitor>(console_, monitorFailureText_);
  const std::string monitorFile = config_->monitorFile();
  TrafficMonitor::OpenedFile opened;
  if (!monitorFile.empty() &&
      !runStoppable<TrafficMonitor::OpenedFile>(
          [monitorFile] { return TrafficMonitor::openFile(monitorFile.c_str()); },
          [this] { return stopRequested(); }, opened)) {
    return false;
  }
  monitor_->open(monitorFile.c_str(), opened);
  serial_->setTrafficLog(monitor_.get());
  feedback_->setTrafficLog(monitor_.get());

  assembler_->setTargets({station_.get(), locos_.get(), turnouts_.get(), feedback_.get()});
  return !stopRequested();
}

bool Bridge::stopRequested() {
  return keys_ != nullptr && keys_->stopRequested();
}

bool Bridge::readList(const char* path, FileListSource& list) {
  const std::string file = path != nullptr ? path : "";
  return runStoppable<FileListSource>(
      [file] {
        FileListSource read;
        read.read(file.c_str());
        return read;
      },
      [this] { return stopRequested(); }, list);
}

void Bridge::consoleLoop() {
  // The read size goes back to 1 before the first key, after ESC and after
  // every key, as it always has: the station must read each command byte on
  // its own, because control software sends the next command only once the
  // reply to the last one has arrived, and a read waiting for more bytes would
  // hold that reply back.
  serial_->setReadSize(1);
  for (;;) {
    bool partOfSequence = false;
    const int code = keys_->readKey(partOfSequence);
    if (code == KeySource::kStop) return;
    console_.print("%d\n", code);
    if (code == kEsc && !partOfSequence) {
      serial_->setReadSize(1);
      return;
    }
    const std::uint8_t byte = static_cast<std::uint8_t>(code & 0xFF);
    serial_->write(&byte, 1);
    serial_->setReadSize(1);
  }
}

void Bridge::shutDown() {
  // First keep every callback away from what is about to be released; none of
  // them waits for the host, so the drain is short. Then what the serial side
  // posted is still delivered, within a bound of its own, so neither a silent
  // nor an absent host can hold shutdown up; closing the links cuts a
  // reconnection under way short.
  gate_.close();
  gate_.drain();
  if (hostLinks_) hostLinks_->finish(kHostDrainBudget);

  if (monitor_) {
    if (serial_) serial_->setTrafficLog(nullptr);
    if (feedback_) feedback_->setTrafficLog(nullptr);
    monitor_->close();
    monitor_.reset();
  }
  turnouts_.reset();
  locos_.reset();
  station_.reset();
  feedback_.reset();
  assembler_.reset();
  if (serial_) {
    serial_->stop();
    serial_->close();
    serial_.reset();
  }
  parser_.reset();
  hostLinks_.reset();  // both links closed above; joins their threads
  config_.reset();
  keys_.reset();  // gives the terminal back as it was
}

void Bridge::onSerial(SerialPort& port, int notification) {
  if (notification == kSerialStarted) {
    // The line is serving again after it was lost (its first start comes
    // during start-up, which has nothing to renew). Whatever the assembler
    // held belongs to the control software's earlier session: a fresh one
    // takes over, while the station's state, its mode included, stays as it
    // is.
    GatePass pass(gate_, GatePass::kNoWait);
    if (!pass) return;
    auto fresh = std::make_unique<CommandAssembler>(*serial_, console_);
    fresh->setTargets({station_.get(), locos_.get(), turnouts_.get(), feedback_.get()});
    if (assembler_) fresh->continueFrom(*assembler_);
    assembler_ = std::move(fresh);
    return;
  }
  if (notification != kSerialDataReceived) return;
  GatePass pass(gate_);
  if (!pass) return;  // shutting down: the byte is not fed and no read follows
  serialCallback(port, notification, monitor_.get(), assembler_.get());
}

void Bridge::onHost(HostConnection& link, int notification) {
  if (notification != kHostDataReceived) return;
  GatePass pass(gate_);
  if (!pass) return;
  hostCallback(link, notification, parser_.get());
}

void Bridge::replayFor(std::vector<std::string>& messages, HostLinks::CatchUp why) {
  // Healing starts just before the gate opens: a catch-up that comes first
  // waits here for the opening, holding back only the links' own sender.
  GatePass pass(gate_);
  if (!pass) return;
  if (why == HostLinks::CatchUp::kReconnected) messages.emplace_back(startMessage().text);
  std::vector<HostMessage> state;
  locos_->appendCommandedMessages(state);
  turnouts_->appendCommandedMessages(state);
  for (const HostMessage& message : state) messages.emplace_back(message.text);
}

void Bridge::turnoutReported(const char* name, int number) {
  turnouts_->hostTurnout(name, number);
}

void Bridge::contactSet(const char* name) {
  feedback_->setContact(name);
}

void Bridge::contactCleared(const char* name) {
  feedback_->clearContact(name);
}

}  // namespace p50x
