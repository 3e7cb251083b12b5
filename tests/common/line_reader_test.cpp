#include "common/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace p50x {
namespace {

struct Line {
  std::string text;
  std::size_t length;
  bool zero;
  bool operator==(const Line&) const = default;
};

std::vector<Line> lines(const std::string& bytes) {
  MemoryBytes source(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  LineReader reader(source);
  std::vector<Line> out;
  TextLine line;
  int expectedNumber = 1;
  while (reader.next(line)) {
    EXPECT_EQ(line.number, expectedNumber++);
    out.push_back({line.text, line.length, line.hasZeroByte});
  }
  return out;
}

TEST(LineReader, TakesLinesAsEditorsWriteThem) {
  using Lines = std::vector<Line>;
  EXPECT_EQ(lines(""), Lines{});
  EXPECT_EQ(lines("\n"), (Lines{{"", 0, false}}));
  EXPECT_EQ(lines("a\nb"), (Lines{{"a", 1, false}, {"b", 1, false}}));
  EXPECT_EQ(lines("a\r\nb\r\n"), (Lines{{"a", 1, false}, {"b", 1, false}}));
  // Only the returns right before the line end belong to it.
  EXPECT_EQ(lines("a\rb\r\r\n"), (Lines{{"a\rb", 3, false}}));
  // The byte-order mark counts only at the very start.
  EXPECT_EQ(lines("\xEF\xBB\xBF"
                  "1;x\n\xEF\xBB\xBF"),
            (Lines{{"1;x", 3, false}, {"\xEF\xBB\xBF", 3, false}}));
  EXPECT_EQ(lines("\xEF\xBB"), (Lines{{"\xEF\xBB", 2, false}}));
  EXPECT_EQ(lines(std::string("a\0b\n", 4)), (Lines{{"a", 3, true}}));
  // A long line is one line, cut for display but with its whole length.
  const std::string longLine(150, 'x');
  EXPECT_EQ(lines(longLine + "\nz"),
            (Lines{{std::string(TextLine::kMaxLength, 'x'), 150, false}, {"z", 1, false}}));
}

TEST(LineReader, SaysWhenTheTextIsUtf16) {
  for (const std::string start : {"\xFF\xFE", "\xFE\xFF"}) {
    const std::string bytes = start + std::string("1\0;\0", 4);
    MemoryBytes source(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    LineReader reader(source);
    TextLine line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_TRUE(reader.startsAsUtf16());
  }
}

}  // namespace
}  // namespace p50x
