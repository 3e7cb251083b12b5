// The replies the station sends, by the command they answer: how long one is
// and what it says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trace_framer.h"

namespace p50x::trace {

// How many bytes from `reply` on are one whole reply to `command`: -1 when they
// do not start with a reply of its form, or with only part of one.
int replyLength(const Framed& command, const std::uint8_t* reply, std::size_t count);

// The station logs the reply of this command a second time right behind the
// first (X88PGet); the trace shows it once.
bool replyLoggedTwice(const Framed& command, const std::uint8_t* reply, std::size_t length);

// A whole reply of the command's form, in words.
std::string replyWords(const Framed& command, const std::uint8_t* reply, std::size_t length);

}  // namespace p50x::trace
