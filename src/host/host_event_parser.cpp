// STUB: to be written.
#include "host/host_event_parser.h"

namespace p50x {
HostEventParser::HostEventParser(Console& console, LayoutEvents* layout)
    : console_(console), layout_(layout) {}
void HostEventParser::dispatch(int, char*) {}
bool HostEventParser::split(char*, char (*)[kFieldSize], int) { return true; }
}  // namespace p50x
