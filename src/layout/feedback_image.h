// The station's feedback modules: two bytes of contact bits per module, set and
// cleared by the host's contact reports, read by the P50Xb feedback commands.
#pragma once

#include "diag/console.h"
#include "diag/traffic_log.h"
#include "station/reply.h"

namespace p50x {

// Threads: loaded on the console thread during start-up; the commands run on
// the serial worker, setContact/clearContact on either host receiver. A small
// mutex guards every bit change and every read of the image.
class FeedbackImage {
 public:
  explicit FeedbackImage(Console& console);
  ~FeedbackImage();
  FeedbackImage(const FeedbackImage&) = delete;
  FeedbackImage& operator=(const FeedbackImage&) = delete;

  void load(const char* path);

  // X88PGet logs its reply a second time; the monitor exists only after the
  // image, so the bridge hands it in later (nullptr: no second logging).
  void setTrafficLog(TrafficLog* log);

  void setContact(const char* name);
  void clearContact(const char* name);
  int moduleParameter() const;
  unsigned highestModule() const;

  void xSensOff(ReplyChannel& reply);
  void x88PGet(ReplyChannel& reply, int parameter);
  void x88PSet(ReplyChannel& reply, int parameter, int value);
  void xEvtSen(ReplyChannel& reply);
};

}  // namespace p50x
