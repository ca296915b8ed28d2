#pragma once
// A folder of its own for each update-file test, and files written into it byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "UpdateFile.h"

class UpdateFile : public ::testing::Test {
protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = std::filesystem::temp_directory_path() / ("qv-update-" + std::to_string(stamp) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    std::filesystem::permissions(dir_, std::filesystem::perms::all);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // `name` is ASCII: the folder's own name is.
  std::string Write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  // A well-formed file's text: every cell of `image` at rows 1..4097.
  static std::string GoodText(const TImage& image) { return UpdateFileText(image); }

  std::filesystem::path dir_;
};
