#include "layout/list_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "layout/feedback_image.h"
#include "layout/loco_table.h"
#include "layout/turnout_table.h"
#include "list_files.h"
#include "support/recording.h"

namespace p50x {
namespace {

struct Read {
  std::string name;
  std::vector<int> numbers;
  int line;
  bool operator==(const Read&) const = default;
};

constexpr FieldRule kTwoNumbers[] = {{"A", INT_MIN, INT_MAX}, {"B", INT_MIN, INT_MAX}};

std::vector<Read> readAll(ListSource& source, Console& console) {
  std::vector<Read> out;
  readList(source, kTwoNumbers, console, [&](const ListRecord& r) {
    out.push_back({r.name, std::vector<int>(r.numbers, r.numbers + 2), r.line});
  });
  return out;
}

std::vector<Read> readText(const std::string& text, Console& console) {
  MemoryListSource source(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), "k.txt");
  return readAll(source, console);
}

TEST(ListFile, SplitsLikeStrtokWithCommentsOnlyAtTheFirstCharacter) {
  test::RecordingConsole console;
  const auto records = readText(
      "#K0;1;1\n"
      " #K1;1;2\n"
      "K2#;1;3\r\n"
      ";;K3;;2;;;4;\n"
      "K4; 5 ;\t6\t;ignored;fields\n",
      console);
  EXPECT_EQ(records,
            (std::vector<Read>{
                {" #K1", {1, 2}, 2}, {"K2#", {1, 3}, 3}, {"K3", {2, 4}, 4}, {"K4", {5, 6}, 5}}));
  EXPECT_EQ(console.outText(), "");
}

TEST(ListFile, ByteOrderMarkAndLineEndsAreNoPartOfTheRecords) {
  test::RecordingConsole console;
  EXPECT_EQ(readText("\xEF\xBB\xBFW1;1;1\r\nW2;2;2", console),
            (std::vector<Read>{{"W1", {1, 1}, 1}, {"W2", {2, 2}, 2}}));
  EXPECT_EQ(console.outText(), "");
}

TEST(ListFile, LongLinesAreSkippedWholeNotReadAsPieces) {
  test::RecordingConsole console;
  std::string first = "N;1;2;";
  first.append(100 - first.size(), 'x');
  // A comment may be as long as it likes.
  const std::string comment = "#" + std::string(150, 'c') + ";Z;3;4";
  const auto records = readText(first + "Z;3;4\n" + comment + "\nY;5;6\n", console);
  EXPECT_EQ(records, (std::vector<Read>{{"Y", {5, 6}, 3}}));
  EXPECT_EQ(console.outText(), "k.txt:1: 105 Zeichen, hoechstens 99; Zeile uebersprungen.\n");
}

TEST(ListFile, AZeroByteSkipsItsLineInAFileAsInMemory) {
  test::RecordingConsole console;
  const std::string text("K1;1;1\0junk;9;9\nK2;2;2\n", 23);
  test::TempListFiles files;
  FileListSource file;
  const std::string path = files.write("zero.txt", text);
  ASSERT_TRUE(file.open(path.c_str(), console));
  const auto fromFile = readAll(file, console);
  EXPECT_EQ(fromFile, (std::vector<Read>{{"K2", {2, 2}, 2}}));
  EXPECT_EQ(console.outText(), path + ":1: Nullbyte, keine Textzeile; Zeile uebersprungen.\n");
  console.clear();
  EXPECT_EQ(readText(text, console), fromFile);
}

TEST(ListFile, AListThatCannotBeOpenedIsNamedWithItsReason) {
  test::RecordingConsole console;
  test::TempListFiles files;
  FileListSource file;
  EXPECT_FALSE(file.open(files.missing().c_str(), console, "Lokliste"));
  EXPECT_EQ(console.errText(), std::string("Error opening file: ") + std::strerror(ENOENT) +
                                   "\nLokliste \"" + files.missing() +
                                   "\": " + std::strerror(ENOENT) + "; die Liste bleibt leer.\n");
  console.clear();
  // A folder is no list, also where the system would open it.
  const std::string folder = files.write("x", "");
  std::remove(folder.c_str());
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  EXPECT_FALSE(file.open(folder.c_str(), console, "Weichenliste"));
  EXPECT_NE(console.errText().find(std::strerror(EISDIR)), std::string::npos);
  EXPECT_EQ(readAll(file, console), std::vector<Read>{});
}

// Reading is bounded: beyond FileBytes::kMaxBytes the rest of a list is named
// missing, as after a read error.
TEST(ListFile, AFileBeyondTheBoundIsReadToItAndTheRestNamedMissing) {
  test::RecordingConsole console;
  test::TempListFiles files;
  std::string text = "K1;1;1\n";
  text += std::string(static_cast<std::size_t>(FileBytes::kMaxBytes), '#');
  text += "\nK2;2;2\n";
  const std::string path = files.write("big.txt", text);
  FileListSource file;
  ASSERT_TRUE(file.open(path.c_str(), console));
  EXPECT_EQ(readAll(file, console), (std::vector<Read>{{"K1", {1, 1}, 1}}));
  EXPECT_EQ(console.outText(), path + ": Lesefehler nach Zeile 2: " + std::strerror(EFBIG) +
                                   "; der Rest der Liste fehlt.\n");

  // One of exactly the bound is whole.
  console.clear();
  const std::string full = files.write(
      "full.txt",
      "K1;1;1\n" + std::string(static_cast<std::size_t>(FileBytes::kMaxBytes) - 7, '#'));
  ASSERT_TRUE(file.open(full.c_str(), console));
  EXPECT_EQ(readAll(file, console), (std::vector<Read>{{"K1", {1, 1}, 1}}));
  EXPECT_EQ(console.outText(), "");
}

// Every line a table cannot take is named as FILE:LINE with its reason and
// skipped; the table keeps the rest.
TEST(ListChecks, EachBadLineIsNamedAndSkipped) {
  enum Table { kLocos, kTurnouts, kContacts };
  struct Case {
    Table table;
    std::string lines;
    int loaded;
    std::string notice;
  };
  const std::string longLine = "Lok1;3;0;2;28;100;" + std::string(90, '8');
  const std::vector<Case> cases = {
      {kLocos, "Lok1; 3 ;0;2;28;100;80\r\n", 1, ""},
      {kLocos, "Lok1;300;0;2;28;100;80\n", 0,
       "Loks.txt:1: Feld 2 (Adresse low) 300 liegt nicht zwischen 0 und 255; "
       "Zeile uebersprungen.\n"},
      {kLocos, "# a\nLok1;99999999999;0;2;28;100;80\n", 0,
       "Loks.txt:2: Feld 2 (Adresse low) 99999999999 liegt nicht zwischen 0 und 255; "
       "Zeile uebersprungen.\n"},
      {kLocos, "Lok1;3;-1;2;28;100;80\n", 0,
       "Loks.txt:1: Feld 3 (Adresse high) -1 liegt nicht zwischen 0 und 255; "
       "Zeile uebersprungen.\n"},
      {kLocos, "Lok1;3;x;2;28;100;80\n", 0,
       "Loks.txt:1: Feld 3 (Adresse high) \"x\" ist keine ganze Zahl; Zeile uebersprungen.\n"},
      {kLocos, "Lok1;3;0;2;256;100;80\n", 0,
       "Loks.txt:1: Feld 5 (Konfigurationswert) 256 liegt nicht zwischen 0 und 255; "
       "Zeile uebersprungen.\n"},
      {kLocos, "Lok1;3;0;2;28;100;80abc\n", 0,
       "Loks.txt:1: Feld 7 (Hoechstgeschwindigkeit rueckwaerts) \"80abc\" ist keine ganze "
       "Zahl; Zeile uebersprungen.\n"},
      {kLocos, "Lok1;3;0;2;28;2147483648;80\n", 0,
       "Loks.txt:1: Feld 6 (Hoechstgeschwindigkeit vorwaerts) 2147483648 liegt nicht "
       "zwischen -2147483648 und 2147483647; Zeile uebersprungen.\n"},
      {kLocos, "Lok1;3;0;9;28;100;80\n", 1,
       "Loks.txt:1: Fahrstufenmodus 9 unbekannt (0 bis 3): XLokX aendert die Geschwindigkeit "
       "von Lok1 nicht.\n"},
      {kLocos, "Lok1;3;0;2\nLok2;4;0;2;28;100;80\n", 1,
       "Loks.txt:1: 4 statt 7 Felder; Zeile uebersprungen: Lok1;3;0;2\n"},
      {kLocos, longLine + "\n", 0,
       "Loks.txt:1: 108 Zeichen, hoechstens 99; Zeile uebersprungen.\n"},
      {kTurnouts, "W1;5;0;1;6\nW2;6;8;7;0\n", 2, ""},
      {kTurnouts, "W1;5;0;1;256\n", 0,
       "Weichen.txt:1: Feld 5 (Partner) 256 liegt nicht zwischen 0 und 255; "
       "Zeile uebersprungen.\n"},
      {kTurnouts, "W1;5;0;1\n", 0,
       "Weichen.txt:1: 4 statt 5 Felder; Zeile uebersprungen: W1;5;0;1\n"},
      {kContacts, "K1;255;16\n", 1, ""},
      {kContacts, "K1;0;1\n", 0,
       "Melder.txt:1: Feld 2 (Modul) 0 liegt nicht zwischen 1 und 255; Zeile uebersprungen.\n"},
      {kContacts, "K1;1;1\nK2;1;17\n", 1,
       "Melder.txt:2: Feld 3 (Kontakt) 17 liegt nicht zwischen 1 und 16; "
       "Zeile uebersprungen.\n"},
      {kContacts, std::string("\xFF\xFEK\0001\0", 7), 0,
       "Melder.txt: UTF-16-Text, nicht gelesen; bitte als UTF-8 oder ANSI speichern.\n"},
  };
  for (const Case& c : cases) {
    test::RecordingConsole console;
    test::RecordingHostSender host;
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.lines.data());
    int loaded = -1;
    if (c.table == kLocos) {
      MemoryListSource source(data, c.lines.size(), "Loks.txt");
      LocoTable table(console, host);
      table.loadEntries(source);
      loaded = table.count();
    } else if (c.table == kTurnouts) {
      MemoryListSource source(data, c.lines.size(), "Weichen.txt");
      TurnoutTable table(console, host);
      table.loadEntries(source);
      loaded = table.count();
    } else {
      MemoryListSource source(data, c.lines.size(), "Melder.txt");
      FeedbackImage image(console);
      image.loadEntries(source);
      loaded = image.highestModule() > 0 ? 1 : 0;
    }
    EXPECT_EQ(console.outText(), c.notice) << c.lines;
    EXPECT_EQ(loaded, c.loaded) << c.lines;
  }
}

}  // namespace
}  // namespace p50x
