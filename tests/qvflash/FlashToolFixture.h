#pragma once
// A folder of its own with an update file for each qvflash test, and runs
// against the simulated device with one fault.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "BootLoaderSim.h"
#include "FlashTestSupport.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace fs = std::filesystem;

class FlashTool : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qvflash-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::all);
    file_ = WriteUpdateFile((dir_ / "image.qv").string(), image_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  RunOutput Run(std::vector<std::string> args) { return RunQvflash(std::move(args)); }

  // A run against the simulated device with one fault.
  RunOutput RunAgainst(TSimFault fault, int frame, std::vector<std::string> extra = {}) {
    TSimOptions options;
    options.Fault = fault;
    options.FaultFrame = frame;
    TBootLoaderSim sim(options);
    sim.Start();
    std::vector<std::string> args{"--port", sim.SlavePath(), "--timeout", "300", file_};
    args.insert(args.end(), extra.begin(), extra.end());
    RunOutput result = Run(args);
    sim.Stop();
    return result;
  }

  fs::path dir_;
  TImage image_ = MakeSampleImage(21);
  std::string file_;
};
