#include "layout/list_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "list_files.h"
#include "support/recording.h"

namespace p50x {
namespace {

struct Read {
  std::string name;
  std::vector<int> numbers;
  bool operator==(const Read&) const = default;
};

std::vector<Read> readAll(ListSource& source, int fields, Console& console) {
  std::vector<Read> out;
  readList(source, fields, console, [&](const ListRecord& r) {
    out.push_back({r.name, std::vector<int>(r.numbers, r.numbers + fields - 1)});
  });
  return out;
}

std::vector<Read> readText(const std::string& text, int fields, Console& console) {
  MemoryListSource source(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return readAll(source, fields, console);
}

TEST(ListFile, SplitsLikeStrtokWithCommentsOnlyAtTheFirstCharacter) {
  test::RecordingConsole console;
  const auto records = readText(
      "#K0;1;1\n"
      " #K1;1;2\n"
      "K2#;1;3\r\n"
      ";;K3;;2;;;4;\n"
      "K4;x7;5;ignored;fields\n",
      3, console);
  EXPECT_EQ(records,
            (std::vector<Read>{{" #K1", {1, 2}}, {"K2#", {1, 3}}, {"K3", {2, 4}}, {"K4", {0, 5}}}));
  EXPECT_EQ(console.outText(), "");
}

TEST(ListFile, ReadsLongLinesAsPiecesOf99Characters) {
  test::RecordingConsole console;
  std::string first = "N;1;2;";
  first.append(99 - first.size(), 'x');
  const auto records = readText(first + "Z;3;4\n", 3, console);
  EXPECT_EQ(records, (std::vector<Read>{{"N", {1, 2}}, {"Z", {3, 4}}}));
}

TEST(ListFile, SkipsShortLinesAndSaysSoUnlessTheyAreBlank) {
  test::RecordingConsole console;
  const auto records = readText("\n;;;;\n  \r\nK1;1\nK2;1;1\n", 3, console);
  EXPECT_EQ(records, (std::vector<Read>{{"K2", {1, 1}}}));
  EXPECT_EQ(console.outText(), "Listenzeile mit 2 statt 3 Feldern uebersprungen: K1;1\n");
}

TEST(ListFile, ClampsNumbersTooLargeForInt) {
  test::RecordingConsole console;
  EXPECT_EQ(readText("K;99999999999;-99999999999\n", 3, console),
            (std::vector<Read>{{"K", {INT_MAX, INT_MIN}}}));
}

TEST(ListFile, AZeroByteEndsThePieceAsInAFile) {
  test::RecordingConsole console;
  const std::string text("K1;1;1\0junk;9;9\nK2;2;2\n", 23);
  test::TempListFiles files;
  FileListSource file;
  ASSERT_TRUE(file.open(files.write("zero.txt", text).c_str(), console));
  const auto fromFile = readAll(file, 3, console);
  EXPECT_EQ(fromFile, (std::vector<Read>{{"K1", {1, 1}}, {"K2", {2, 2}}}));
  EXPECT_EQ(readText(text, 3, console), fromFile);
}

}  // namespace
}  // namespace p50x
