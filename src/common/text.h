// Small text helpers shared by the settings reader, the layout list reader and
// the host message parser. They keep the classic C semantics that the files and
// the host protocol were written for, minus the classic C hazards.
#pragma once

#include <cstddef>

namespace p50x {

// Splits a mutable, zero-terminated text at a separator with strtok rules: runs
// of separators count as one and separators at either end yield no token. The
// position lives in the object, so two threads splitting at once never meet.
class TokenCursor {
 public:
  TokenCursor(char* text, char separator) : pos_(text), separator_(separator) {}

  // The next token (zero-terminated in place), or nullptr when none is left.
  char* next();

 private:
  char* pos_;
  char separator_;
};

// atoi semantics (leading white space, optional sign, digits up to the first
// non-digit, no digits give 0) without its undefined behaviour: a value beyond
// the range of int is clamped to INT_MIN or INT_MAX.
int toInt(const char* text);

// Copies text into a fixed field of `size` bytes (size >= 1), cutting it so the
// terminating zero always fits. Returns true when nothing had to be cut.
bool copyField(char* field, std::size_t size, const char* text);

// A whole decimal number and nothing else: an optional sign and at least one
// digit, no white space. A number too large for long long is clamped to
// +-kDecimalLimit, far outside every range that is then checked.
inline constexpr long long kDecimalLimit = 1000000000000000000LL;
bool parseDecimal(const char* text, long long& value);

// Strict dotted IPv4 text: four decimal parts 0 to 255, without leading zeros
// (which some readers take as octal), signs or white space.
bool isDottedIpv4(const char* text);

// True when a line holds nothing but field separators (";") and white space:
// no setting and no record, passed over quietly by the readers.
bool isBlank(const char* text);

}  // namespace p50x
