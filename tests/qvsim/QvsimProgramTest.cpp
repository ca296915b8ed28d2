// The qvsim program as tests and scripts use it: path on stdout, --write,
// --expect and the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SampleImage.h"
#include "ScriptedLoader.h"
#include "UpdateFile.h"

namespace {

class TQvsimProcess {
public:
  explicit TQvsimProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      static std::string program = QVSIM_PATH;
      argv.push_back(program.data());
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(out[0]);
    path_ = line;
  }
  const std::string& Path() const { return path_; }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

private:
  pid_t pid_ = -1;
  std::string path_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class QvsimProgram : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qvsim-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    expected_ = (dir_ / "image.qv").string();
    WriteUpdateFile(expected_, image_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  TImage image_ = MakeSampleImage(5);
  std::filesystem::path dir_;
  std::string expected_;
};

TEST_F(QvsimProgram, CompleteLoadExitsZeroAndWritesWhatCame) {
  const std::string written = (dir_ / "received.qv").string();
  const std::string link = (dir_ / "device").string();
  TQvsimProcess sim({"--quiet", "--expect", expected_, "--write", written, "--link", link});
  ASSERT_FALSE(sim.Path().empty());
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.Path());
  TScriptedLoader loader(link, image_);
  ASSERT_TRUE(loader.Open());
  const TScriptOutcome outcome = loader.Run();
  EXPECT_EQ(outcome.Stall, "");
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(link));
  // The rows the loader sends match; the rest reads as erased flash.
  TImage back;
  ASSERT_EQ(ReadUpdateFile(std::optional<std::string>(written), back), TUpdateFileOutcome::Read);
  EXPECT_EQ(back.StringGrid2.Cell(5, 4096), image_.StringGrid2.Cell(5, 4096));
  EXPECT_EQ(back.StringGrid1.Cell(16, 3840), image_.StringGrid1.Cell(16, 3840));
  EXPECT_EQ(back.StringGrid1.Cell(1, 3841), "FF");
  EXPECT_EQ(Slurp(written).size(), UpdateFileSize);
}

TEST_F(QvsimProgram, ADifferentExpectedImageOrAStallExitsOne) {
  TImage other = MakeSampleImage(6);
  const std::string otherPath = (dir_ / "other.qv").string();
  WriteUpdateFile(otherPath, other);
  {
    TQvsimProcess sim({"--quiet", "--expect", otherPath});
    TScriptedLoader loader(sim.Path(), image_);
    ASSERT_TRUE(loader.Open());
    EXPECT_EQ(loader.Run().Stall, "");
    EXPECT_EQ(sim.Wait(), 1);
  }
  {
    TQvsimProcess sim({"--quiet", "--silence", "4"});
    TScriptedLoader loader(sim.Path(), image_, 200);
    ASSERT_TRUE(loader.Open());
    const TScriptOutcome outcome = loader.Run();
    EXPECT_EQ(outcome.Stall, "no response");
    EXPECT_EQ(outcome.StallFrame, 4);
    loader.Close();
    EXPECT_EQ(sim.Wait(), 1);
  }
}

// A usage error is two lines, the error and where to read more, status 2;
// values may follow "=", as in every other tool.
TEST_F(QvsimProgram, BadOptionsExitTwoWithTheErrorAlone) {
  const std::pair<std::string, std::string> cases[] = {{" --baud fast", "qvsim: --baud needs a number, not 'fast'\n"},
                                                       {" --bogus", "qvsim: unknown option '--bogus'\n"},
                                                       {" --repeat", "qvsim: option '--repeat' needs a value\n"},
                                                       {" --repeat=0", "qvsim: --repeat needs at least 1 device\n"},
                                                       {" stray", "qvsim: takes no operands, not 'stray'\n"}};
  for (const auto& [args, error] : cases) {
    std::FILE* pipe = ::popen((std::string(QVSIM_PATH) + args + " 2>&1 >/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string text;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    const int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 2) << args;
    EXPECT_EQ(text, error + "Try 'qvsim --help'.\n") << args;
  }
  const std::string sample = (dir_ / "sample.qv").string();
  EXPECT_EQ(std::system((std::string(QVSIM_PATH) + " --make-sample=" + sample + " >/dev/null").c_str()), 0);
  EXPECT_EQ(std::filesystem::file_size(sample), UpdateFileSize);
}

}  // namespace
