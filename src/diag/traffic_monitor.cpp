// STUB: to be written.
#include "diag/traffic_monitor.h"

namespace p50x {
TrafficMonitor::TrafficMonitor(Console& console, const char* text)
    : console_(console), openFailureText_(text) {}
TrafficMonitor::~TrafficMonitor() = default;
void TrafficMonitor::open(const char*) {}
void TrafficMonitor::close() {}
bool TrafficMonitor::enabled() const { return false; }
void TrafficMonitor::logReceived(int, const std::uint8_t*) {}
void TrafficMonitor::logSent(int, const std::uint8_t*) {}
void TrafficMonitor::log(int, int, const std::uint8_t*) {}
}  // namespace p50x
