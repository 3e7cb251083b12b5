// The owner of every process-wide instance: builds the bridge in its fixed
// order, runs the console loop and takes everything down again.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/configuration.h"
#include "app/start_gate.h"
#include "diag/console.h"
#include "diag/traffic_monitor.h"
#include "host/host_connection.h"
#include "host/host_event_parser.h"
#include "host/host_links.h"
#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "seams/layout_events.h"
#include "serial/serial_port.h"
#include "station/command_assembler.h"
#include "station/station_state.h"

namespace p50x {

// Where the console loop gets its key codes from.
class KeySource {
 public:
  static constexpr int kStop = -1;
  virtual ~KeySource() = default;
  // A key code 0 to 255, or kStop. partOfSequence: a code of a multi-code key.
  virtual int readKey(bool& partOfSequence) = 0;
  // Without waiting: true when a stop request has come (and from then on).
  // Keys typed meanwhile stay for readKey. Asked while start-up goes on.
  virtual bool stopRequested() = 0;
};

// Threads: start-up, the console loop and shutdown run on the console thread.
// The serial worker, the host receivers and the host links' healer reach the
// instances only through the callbacks and the replay source, which pass the
// StartGate: held until start-up is complete, turned away (and waited for)
// once shutdown begins.
class Bridge final : private LayoutEvents {
 public:
  // monitorFailureText: the perror text for a monitor file that will not open.
  Bridge(Console& console, const char* monitorFailureText);
  ~Bridge() override;
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Opens the key source. Called once, right after the serial port has opened
  // (in pty: mode that made the link to it): from that point on a stop
  // request must arrive as KeySource::kStop and run the orderly shutdown,
  // which removes the link, also while start-up still reads a list:
  // start-up asks KeySource::stopRequested as it goes.
  using KeySourceFactory = std::function<std::unique_ptr<KeySource>()>;

  // The whole life of the program; returns the exit status, which is 1.
  int run(int argc, const char* const* argv, const KeySourceFactory& openKeys);

 private:
  bool startUp(int argc, const char* const* argv, const KeySourceFactory& openKeys);
  // The steps after the serial port has opened; false when a stop request
  // came meanwhile.
  bool loadLayout();
  bool stopRequested();
  // Reads a list on a thread of its own, so a file that hangs cannot hold up
  // a stop request; false when one came first.
  bool readList(const char* path, FileListSource& list);
  void consoleLoop();
  void shutDown();

  void onSerial(SerialPort& port, int notification);
  void onHost(HostConnection& link, int notification);
  // What a host connected again (or too far behind) is sent: the start
  // message (only when connected again) and the latest state of what the
  // serial side has commanded. On the host links' sender.
  void replayFor(std::vector<std::string>& messages, HostLinks::CatchUp why);

  // LayoutEvents: host events 100, 150 and 151, on a receiver thread that has
  // passed the gate, so the tables exist.
  void turnoutReported(const char* name, int number) override;
  void contactSet(const char* name) override;
  void contactCleared(const char* name) override;

  Console& console_;
  const char* monitorFailureText_;
  StartGate gate_;

  // In the order of creation.
  std::unique_ptr<Configuration> config_;
  // The event link and the command link, made again when the host comes back.
  std::unique_ptr<HostLinks> hostLinks_;
  std::unique_ptr<HostEventParser> parser_;
  std::unique_ptr<SerialPort> serial_;
  std::unique_ptr<CommandAssembler> assembler_;
  std::unique_ptr<FeedbackImage> feedback_;
  std::unique_ptr<StationState> station_;
  std::unique_ptr<LocoTable> locos_;
  std::unique_ptr<TurnoutTable> turnouts_;
  std::unique_ptr<TrafficMonitor> monitor_;

  std::unique_ptr<KeySource> keys_;
};

}  // namespace p50x
