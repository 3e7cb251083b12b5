#include "app/configuration.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "support/recording.h"

namespace p50x {
namespace {

namespace fs = std::filesystem;

// A configuration file of its own per test, removed afterwards.
class ConfigurationTest : public ::testing::Test {
 protected:
  ConfigurationTest() {
    path_ = fs::temp_directory_path() /
            ("p50x-config-" + std::to_string(std::random_device{}()) + ".txt");
  }
  ~ConfigurationTest() override { fs::remove(path_); }

  bool read(const std::string& fileText) {
    { std::ofstream(path_, std::ios::binary) << fileText; }
    EXPECT_TRUE(config_.setConfigPath(path_.string().c_str(), console_));
    return config_.readFile(console_);
  }

  fs::path path_;
  test::RecordingConsole console_;
  Configuration config_;
};

void expectDefaults(const Configuration& c) {
  EXPECT_STREQ(c.locoFile(), "Frei");
  EXPECT_STREQ(c.feedbackFile(), "Frei");
  EXPECT_STREQ(c.turnoutFile(), "Frei");
  EXPECT_STREQ(c.serialPortName(), "NULL");
  EXPECT_STREQ(c.hostAddress(), "127.0.0.1");
  EXPECT_STREQ(c.monitorFile(), "");
  EXPECT_STREQ(c.eventPort(), "31286");
  EXPECT_STREQ(c.commandPort(), "31285");
  EXPECT_STREQ(c.serialBaud(), "57600");
  EXPECT_STREQ(c.speedReportTag(), "1");
}

TEST_F(ConfigurationTest, MissingFileIsReportedAndKeepsTheDefaults) {
  Configuration fresh;
  EXPECT_STREQ(fresh.configPath(), "Config.txt");
  expectDefaults(fresh);

  ASSERT_TRUE(config_.setConfigPath(path_.string().c_str(), console_));
  EXPECT_FALSE(config_.readFile(console_));
  EXPECT_EQ(console_.outText(), "Config-Datei:            " + path_.string() + "\n");
  EXPECT_EQ(console_.errText(),
            std::string("Fehler beim Zugriff auf die Konfigurationsdatei.\n: ") +
                std::strerror(ENOENT) + "\n");
  expectDefaults(config_);
}

TEST_F(ConfigurationTest, EmptyFileAndIgnoredLinesChangeNothingButAreNamed) {
  ASSERT_TRUE(read(""));
  expectDefaults(config_);
  console_.clear();
  ASSERT_TRUE(read("# 4;COM9\n6;\n11;x\n0;x\n-1;x\nabc\n;;;\n\n\r\n1\n"));
  expectDefaults(config_);
  const std::string file = path_.string();
  EXPECT_EQ(console_.outText(),
            "Config-Datei:            " + file + "\n" +                                      //
                file + ":2: Einstellung 6 (Monitordatei) ohne Wert; Zeile uebergangen.\n" +  //
                file + ":3: kein Schluessel 1 bis 10; Zeile uebergangen: 11;x\n" +           //
                file + ":4: kein Schluessel 1 bis 10; Zeile uebergangen: 0;x\n" +            //
                file + ":5: kein Schluessel 1 bis 10; Zeile uebergangen: -1;x\n" +           //
                file + ":6: kein Schluessel 1 bis 10; Zeile uebergangen: abc\n" +            //
                file + ":10: Einstellung 1 (Lokliste) ohne Wert; Zeile uebergangen.\n");
}

TEST_F(ConfigurationTest, FilesFromWindowsEditorsReadLikeAnyOther) {
  ASSERT_TRUE(
      read("\xEF\xBB\xBF"
           "1;loks.txt\r\n4;COM3\r\n"));
  EXPECT_STREQ(config_.locoFile(), "loks.txt");
  EXPECT_STREQ(config_.serialPortName(), "COM3");
  EXPECT_EQ(config_.origin(4).line, 2);
}

TEST_F(ConfigurationTest, WhatIsNoTextFileIsRefusedLikeAMissingFile) {
  const std::string refused = "Fehler beim Zugriff auf die Konfigurationsdatei.\n: ";
  EXPECT_FALSE(
      read(std::string("1;loks.txt\n\x7F"
                       "ELF\0\0\0\n4;COM3\n",
                       26)));
  EXPECT_EQ(console_.errText(), refused + "keine Textdatei (Nullbyte in Zeile 2)\n");
  console_.clear();
  EXPECT_FALSE(
      read(std::string("\xFF\xFE"
                       "1\0;\0",
                       6)));
  EXPECT_EQ(console_.errText(), refused + "UTF-16-Text; bitte als UTF-8 oder ANSI speichern\n");
  console_.clear();

  fs::create_directory(path_.string() + ".d");
  ASSERT_TRUE(config_.setConfigPath((path_.string() + ".d").c_str(), console_));
  EXPECT_FALSE(config_.readFile(console_));
  EXPECT_EQ(console_.errText(), refused + std::strerror(EISDIR) + "\n");
  fs::remove(path_.string() + ".d");
}

TEST_F(ConfigurationTest, LinesSetTheirSlotsAndLaterLinesWin) {
  ASSERT_TRUE(
      read("1;loks.txt\r\n"
           "2;melder.txt\n"
           "3;weichen.txt;old\n"
           "4;;COM3\n"  // empty fields collapse
           "5;192.168.1.7\n"
           "6;log.txt\n"
           "7;4000\n"
           "8;4001\n"
           "9;19200\n"
           "9;38400\n"
           "10;3"));  // no line end on the last line
  EXPECT_STREQ(config_.locoFile(), "loks.txt");
  EXPECT_STREQ(config_.feedbackFile(), "melder.txt");
  EXPECT_STREQ(config_.turnoutFile(), "weichen.txt");
  EXPECT_STREQ(config_.serialPortName(), "COM3");
  EXPECT_STREQ(config_.hostAddress(), "192.168.1.7");
  EXPECT_STREQ(config_.monitorFile(), "log.txt");
  EXPECT_STREQ(config_.eventPort(), "4000");
  EXPECT_STREQ(config_.commandPort(), "4001");
  EXPECT_STREQ(config_.serialBaud(), "38400");
  EXPECT_STREQ(config_.speedReportTag(), "3");
}

TEST_F(ConfigurationTest, LongLinesAreNeitherCutNorReadAsPieces) {
  // The classic reader took the first 99 characters as one line and the rest
  // as another; a value is now taken whole or not at all.
  const std::string value(97, 'a');
  ASSERT_TRUE(
      read("1;" + value + "\n6;" + value + "2;feed.txt\n# " + std::string(150, 'c') + ";4;COM7\n"));
  EXPECT_STREQ(config_.locoFile(), value.c_str());
  EXPECT_STREQ(config_.monitorFile(), "");
  EXPECT_TRUE(config_.origin(6).tooLong);
  EXPECT_EQ(config_.origin(6).length, 109u);
  EXPECT_STREQ(config_.feedbackFile(), "Frei");
  EXPECT_STREQ(config_.serialPortName(), "NULL");
}

TEST_F(ConfigurationTest, OverlongPathIsRefusedNotCut) {
  const std::string longest(127, 'p');
  EXPECT_TRUE(config_.setConfigPath(longest.c_str(), console_));
  EXPECT_EQ(config_.configPath(), longest);
  EXPECT_EQ(console_.outText(), "");

  const std::string tooLong(128, 'q');
  EXPECT_FALSE(config_.setConfigPath(tooLong.c_str(), console_));
  EXPECT_EQ(config_.configPath(), longest);
  EXPECT_NE(console_.outText().find(tooLong), std::string::npos);
}

}  // namespace
}  // namespace p50x
