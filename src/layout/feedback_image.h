// The station's feedback modules: two bytes of contact bits per module, set and
// cleared by the host's contact reports, read by the P50Xb feedback commands.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "diag/console.h"
#include "layout/list_duplicates.h"
#include "layout/list_file.h"
#include "seams/reply.h"
#include "seams/station_mode.h"
#include "seams/traffic_log.h"

namespace p50x {

// Threads: loaded on the console thread during start-up; the commands run on
// the serial worker, setContact/clearContact on either host receiver. A small
// mutex guards every bit change, every read of the image and the change flag
// that XEvent reports.
class FeedbackImage {
 public:
  explicit FeedbackImage(Console& console);
  ~FeedbackImage();
  FeedbackImage(const FeedbackImage&) = delete;
  FeedbackImage& operator=(const FeedbackImage&) = delete;

  void load(const char* path);
  // The same from a list read beforehand (FileListSource::read).
  void load(FileListSource& list);

  // Replaces the records with those of `source` and sizes a zeroed image.
  void loadEntries(ListSource& source);

  // X88PGet logs its reply a second time; the monitor exists only after the
  // image, so the bridge hands it in later (nullptr: no second logging).
  void setTrafficLog(TrafficLog* log);

  void setContact(const char* name);
  void clearContact(const char* name);
  int moduleParameter() const;
  unsigned highestModule() const;
  // Contacts loaded.
  int count() const;
  // Contacts that share a name with a later line, which alone the host's
  // reports reach.
  std::vector<ListDuplicate> duplicates() const;

  // True when a host report flipped a bit (or a P50X-only XSensOff found bits
  // set) since XEvtSen last answered: bit 2 of the P50X-only XEvent reply.
  bool changedSinceReport() const;

  // Mixed mode clears the image. In P50X-only mode the image is the layout's
  // real occupancy, which the host reports only on change, so it stays and the
  // client is told to fetch it.
  void xSensOff(ReplyChannel& reply, StationMode mode = StationMode::Mixed);
  // One module's two bytes.
  void xSensor(ReplyChannel& reply, int module);
  void x88PGet(ReplyChannel& reply, int parameter);
  void x88PSet(ReplyChannel& reply, int parameter, int value);
  void xEvtSen(ReplyChannel& reply);

  // Module numbers are one byte on the wire; contacts are 16 per module.
  static constexpr int kMaxModule = 255;
  static constexpr int kContactsPerModule = 16;
  // Three bytes per module and the end byte stay below the 256 bytes a serial
  // write takes.
  static constexpr unsigned kMaxReportedModules = 84;

 private:
  struct Contact {
    char name[kNameSize] = {};
    int module = 0;   // 1..kMaxModule, checked at loading
    int contact = 0;  // 1..kContactsPerModule, checked at loading
    int line = 0;     // in the list file
  };

  // Called with mutex_ held; the record found stays with the caller.
  const Contact* findByName(const char* name) const;
  void changeContact(const char* name, bool occupied);

  Console& console_;
  std::atomic<TrafficLog*> trafficLog_{nullptr};
  mutable std::mutex mutex_;  // guards everything below
  // Walk order: the record of the file's last line first, so it wins.
  std::vector<Contact> contacts_;
  unsigned highestModule_ = 0;
  int moduleParameter_ = 0;
  std::vector<std::uint8_t> image_;  // 2 * highestModule_ bytes
  bool changed_ = false;             // see changedSinceReport()
};

}  // namespace p50x
