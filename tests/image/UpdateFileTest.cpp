// The update file: names, sizes, line splitting, the writer, and file-system errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "SampleImage.h"
#include "UpdateFile.h"

namespace fs = std::filesystem;

namespace {

class UpdateFile : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-update-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    fs::permissions(dir_, fs::perms::all);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // A well-formed file's text: every cell of `image` at rows 1..4097.
  static std::string GoodText(const TImage& image) { return UpdateFileText(image); }

  fs::path dir_;
};

TEST_F(UpdateFile, WellFormedFileFillsBothRegionsIncludingTailLines) {
  const TImage source = MakeSampleImage(9);
  const std::string text = GoodText(source);
  ASSERT_EQ(text.size(), UpdateFileSize);
  TImage image;
  image.SetupHeaders();
  int cleared = 0;
  EXPECT_EQ(ReadUpdateFile(Write("a.qv", text), image, [&] { ++cleared; }), TUpdateFileOutcome::Read);
  EXPECT_EQ(cleared, 1);
  EXPECT_EQ(UpdateFileText(image), text) << "written and read back gives the same tables";
  // Line 1 → row 1 of program memory, line 4097 → its tail row, 4098 → data flash row 1, 8194 → its tail.
  EXPECT_EQ(image.StringGrid1.Cell(1, 1), text.substr(0, 2));
  EXPECT_EQ(image.StringGrid1.Cell(1, 4097), text.substr(4096 * 34, 2));
  EXPECT_EQ(image.StringGrid2.Cell(1, 1), text.substr(4097 * 34, 2));
  EXPECT_EQ(image.StringGrid2.Cell(16, 4097), text.substr(8193 * 34 + 30, 2));
  EXPECT_EQ(image.StringGrid1.Cell(0, 5), "$004y") << "headers untouched";

  // Loading the same file again leaves the tables exactly as they were.
  EXPECT_EQ(ReadUpdateFile(Write("a.qv", text), image), TUpdateFileOutcome::Read);
  EXPECT_EQ(UpdateFileText(image), text);
}

TEST_F(UpdateFile, NameMustEndInQvInAnyCase) {
  const std::string text = GoodText(MakeSampleImage(1));
  for (const char* name : {"b.QV", "c.qv", "d.Qv"}) {
    TImage image;
    EXPECT_EQ(ReadUpdateFile(Write(name, text), image), TUpdateFileOutcome::Read) << name;
  }
  for (const char* name : {"e.qv.txt", "noextension", "qv"}) {
    TImage image;
    int cleared = 0;
    EXPECT_EQ(ReadUpdateFile(Write(name, text), image, [&] { ++cleared; }), TUpdateFileOutcome::ExtensionIgnored)
        << name;
    EXPECT_EQ(cleared, 0);
    EXPECT_EQ(image.StringGrid1.Cell(1, 1), "");
  }
  EXPECT_FALSE(HasUpdateFileExtension("/home/x.qv/file"));
  EXPECT_TRUE(HasUpdateFileExtension("/home/x.y/file.qV"));
  TImage image;
  EXPECT_EQ(ReadUpdateFile(std::nullopt, image), TUpdateFileOutcome::Cancelled);
}

TEST_F(UpdateFile, SizeOffByOneIsRefusedAndTheImageStays) {
  const TImage previous = MakeSampleImage(4);
  const std::string text = GoodText(MakeSampleImage(5));
  for (const std::string& wrong : {text.substr(0, text.size() - 1), text + "0", std::string()}) {
    TImage image = previous;
    int cleared = 0;
    EXPECT_EQ(ReadUpdateFile(Write("s.qv", wrong), image, [&] { ++cleared; }), TUpdateFileOutcome::SizeRefused);
    EXPECT_EQ(cleared, 1) << "the logs are cleared before the size is looked at";
    EXPECT_EQ(UpdateFileText(image), UpdateFileText(previous));
  }
}

TEST_F(UpdateFile, LfLinesShortLinesAndNoLineEnds) {
  // LF line ends: 8442 lines of 33 bytes and a part; only the first 8194 are read.
  const std::string line = "0123456789abcdefABCDEF0123456789";
  std::string lf;
  while (lf.size() + 33 <= UpdateFileSize) lf += line + "\n";
  lf += std::string(UpdateFileSize - lf.size(), '7');
  TImage image;
  ASSERT_EQ(ReadUpdateFile(Write("lf.qv", lf), image), TUpdateFileOutcome::Read);
  EXPECT_EQ(image.StringGrid1.Cell(1, 1), "01");
  EXPECT_EQ(image.StringGrid1.Cell(6, 1), "ab");
  EXPECT_EQ(image.StringGrid2.Cell(16, 4097), "89");

  // One long line: row 1 of program memory gets its first 32 characters, every other cell empty.
  const std::string one(UpdateFileSize, 'C');
  TImage filled = MakeSampleImage(2);
  ASSERT_EQ(ReadUpdateFile(Write("one.qv", one), filled), TUpdateFileOutcome::Read);
  EXPECT_EQ(filled.StringGrid1.Cell(16, 1), "CC");
  EXPECT_EQ(filled.StringGrid1.Cell(1, 2), "");
  EXPECT_EQ(filled.StringGrid2.Cell(1, 1), "");
  EXPECT_EQ(filled.StringGrid2.Cell(16, 4097), "");

  // Line 10 holds 31 characters (the file keeps its size with one more elsewhere).
  std::string text = GoodText(MakeSampleImage(3));
  text.erase(9 * 34 + 31, 1);
  text.insert(text.size() - 2, "0");
  ASSERT_EQ(text.size(), UpdateFileSize);
  TImage shortLine;
  ASSERT_EQ(ReadUpdateFile(Write("short.qv", text), shortLine), TUpdateFileOutcome::Read);
  EXPECT_EQ(shortLine.StringGrid1.Cell(16, 10).size(), 1u);
  EXPECT_EQ(shortLine.StringGrid1.Cell(15, 10).size(), 2u);
  EXPECT_EQ(shortLine.StringGrid2.Cell(16, 4097).size(), 2u) << "characters past the 32nd are ignored";
}

TEST_F(UpdateFile, FileSystemErrorsCarryTheSystemText) {
  TImage image;
  try {
    ReadUpdateFile((dir_ / "missing.qv").string(), image);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  fs::create_directories(dir_ / "dir.qv");
  EXPECT_THROW(ReadUpdateFile((dir_ / "dir.qv").string(), image), EInOutError);
}

TEST_F(UpdateFile, ReadOnlyFileLoadsAlsoForAnUnprivilegedUser) {
  const std::string text = GoodText(MakeSampleImage(6));
  const std::string path = Write("ro.qv", text);
  ::chmod(path.c_str(), 0444);
  // Root may open anything for writing, so the check only bites as an ordinary user.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    try {
      TImage image;
      ::_exit(ReadUpdateFile(path, image) == TUpdateFileOutcome::Read && UpdateFileText(image) == text ? 0 : 1);
    } catch (...) {
      ::_exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(UpdateFile, WriterAppendsTheExtensionWhenMissing) {
  const TImage image = MakeSampleImage(8);
  EXPECT_EQ(WriteUpdateFile((dir_ / "x").string(), image), (dir_ / "x.QV").string());
  EXPECT_EQ(WriteUpdateFile((dir_ / "y.qv").string(), image), (dir_ / "y.qv").string());
  EXPECT_EQ(fs::file_size(dir_ / "x.QV"), UpdateFileSize);
  TImage back;
  ASSERT_EQ(ReadUpdateFile((dir_ / "x.QV").string(), back), TUpdateFileOutcome::Read);
  EXPECT_EQ(UpdateFileText(back), UpdateFileText(image));
}

}  // namespace
