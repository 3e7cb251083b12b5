// STUB: to be written.
#include "layout/feedback_image.h"

namespace p50x {
FeedbackImage::FeedbackImage(Console&) {}
FeedbackImage::~FeedbackImage() = default;
void FeedbackImage::load(const char*) {}
void FeedbackImage::setTrafficLog(TrafficLog*) {}
void FeedbackImage::setContact(const char*) {}
void FeedbackImage::clearContact(const char*) {}
int FeedbackImage::moduleParameter() const { return 0; }
unsigned FeedbackImage::highestModule() const { return 0; }
void FeedbackImage::xSensOff(ReplyChannel&) {}
void FeedbackImage::x88PGet(ReplyChannel&, int) {}
void FeedbackImage::x88PSet(ReplyChannel&, int, int) {}
void FeedbackImage::xEvtSen(ReplyChannel&) {}
}  // namespace p50x
