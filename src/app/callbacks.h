// The glue between the engines and the protocol: the serial port and the host
// links know nothing of commands or events, so the bridge installs these on
// them to hand what arrives to the CommandAssembler and the HostEventParser.
#pragma once

#include "host/host_connection.h"
#include "host/host_event_parser.h"
#include "seams/traffic_log.h"
#include "serial/serial_port.h"
#include "station/command_assembler.h"

namespace p50x {

// The serial callback: logs each received delivery, feeds it to the command
// assembler, then re-arms the read. Other notifications are ignored. Runs on
// the serial worker, so the next read is asked for only once the command the
// byte completed has been answered.
void serialCallback(SerialPort& port, int notification, TrafficLog* log,
                    CommandAssembler* assembler);

// The callback of both host links: every received chunk goes to the one
// HostEventParser. Runs on the link's receiver thread.
void hostCallback(HostConnection& connection, int notification, HostEventParser* parser);

}  // namespace p50x
