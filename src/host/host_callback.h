// The callback installed on both host links: every received chunk goes to the
// one HostEventParser.
#pragma once

#include "host/host_connection.h"
#include "host/host_event_parser.h"

namespace p50x {

void hostCallback(HostConnection& connection, int notification, HostEventParser* parser);

}  // namespace p50x
