// Layout list files written for one test and removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace p50x::test {

class TempListFiles {
 public:
  TempListFiles() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("p50x-layout-" + std::string(info->name()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(dir_);
  }
  ~TempListFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  TempListFiles(const TempListFiles&) = delete;
  TempListFiles& operator=(const TempListFiles&) = delete;

  // Writes the text byte for byte and returns the path.
  std::string write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path;
  }
  std::string missing() const { return (dir_ / "missing.txt").string(); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace p50x::test
