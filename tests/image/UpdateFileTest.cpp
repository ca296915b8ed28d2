// The update file: names, sizes, the shape of a well-formed file, the writer,
// special files and file-system errors.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

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

// Damage that keeps the size: every such file is refused before any cell
// changes, and the fault names where the shape first breaks.
TEST_F(UpdateFile, DamagedShapeOfTheRightSizeIsRefused) {
  const TImage previous = MakeSampleImage(4);
  const std::string good = GoodText(MakeSampleImage(3));
  auto lineStart = [](int line) { return static_cast<std::size_t>(line - 1) * 34; };
  struct Case {
    const char* what;
    std::string text;
    int line, column;
  };
  std::vector<Case> cases;
  {  // an LF too many in line 10, one digit fewer at the end to keep the size
    std::string t = good;
    t.insert(lineStart(10) + 5, "\n");
    t.erase(t.size() - 3, 1);
    cases.push_back({"line end added", t, 10, 6});
  }
  {  // the CR of line 200 lost, a digit more in the last line
    std::string t = good;
    t.erase(lineStart(200) + 32, 1);
    t.insert(t.size() - 2, "0");
    cases.push_back({"line end removed", t, 200, 33});
  }
  {  // the line end of line 5000 moved two characters to the left
    std::string t = good;
    t.erase(lineStart(5000) + 32, 2);
    t.insert(lineStart(5000) + 30, "\r\n");
    cases.push_back({"line end moved", t, 5000, 31});
  }
  {  // line 7 one character short, line 8 one character long
    std::string t = good;
    t.erase(lineStart(7) + 3, 1);
    t.insert(lineStart(8) + 3, "A");
    cases.push_back({"short and long line", t, 7, 32});
  }
  {  // LF line ends throughout: the size filled up with digits
    std::string t;
    while (t.size() + 33 <= UpdateFileSize) t += std::string(32, 'a') + "\n";
    t += std::string(UpdateFileSize - t.size(), '7');
    cases.push_back({"LF line ends", t, 1, 33});
  }
  cases.push_back({"no line end at all", std::string(UpdateFileSize, 'C'), 1, 33});

  for (const Case& c : cases) {
    ASSERT_EQ(c.text.size(), UpdateFileSize) << c.what;
    TImage image = previous;
    int cleared = 0;
    TUpdateFileFault fault;
    EXPECT_EQ(ReadUpdateFile(Write("d.qv", c.text), image, [&] { ++cleared; }, &fault),
              TUpdateFileOutcome::ShapeRefused)
        << c.what;
    EXPECT_EQ(cleared, 1) << c.what;
    EXPECT_EQ(UpdateFileText(image), UpdateFileText(previous)) << c.what << ": no cell may change";
    EXPECT_EQ(fault.Line, c.line) << c.what << ": " << fault.What;
    EXPECT_EQ(fault.Column, c.column) << c.what << ": " << fault.What;
  }
}

// Rows that are sent must hold hex digits (either case); the tail rows are
// never sent, so there only the shape counts.
TEST_F(UpdateFile, NonHexInASentRowIsRefusedInATailRowAccepted) {
  const std::string good = GoodText(MakeSampleImage(6));
  auto at = [](int line, int column) { return static_cast<std::size_t>(line - 1) * 34 + static_cast<std::size_t>(column - 1); };
  for (const auto& [line, column, ch] : {std::tuple{4096, 32, 'g'}, std::tuple{4098, 1, ' '}, std::tuple{8193, 17, '\0'}}) {
    std::string text = good;
    text[at(line, column)] = ch;
    TImage image;
    TUpdateFileFault fault;
    EXPECT_EQ(ReadUpdateFile(Write("h.qv", text), image, {}, &fault), TUpdateFileOutcome::ShapeRefused) << line;
    EXPECT_EQ(fault.Line, line);
    EXPECT_EQ(fault.Column, column);
    EXPECT_NE(fault.What.find("not a hexadecimal digit"), std::string::npos) << fault.What;
    EXPECT_EQ(image.StringGrid1.Cell(1, 1), "");
  }

  std::string text = good;
  for (int column : {1, 2, 31, 32}) text[at(4097, column)] = 'Z';  // program memory's tail line
  text[at(8194, 5)] = '?';                                          // data flash's tail line
  for (char& c : text)  // lower-case digits everywhere
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  TImage image;
  ASSERT_EQ(ReadUpdateFile(Write("t.qv", text), image), TUpdateFileOutcome::Read);
  EXPECT_EQ(image.StringGrid1.Cell(1, 4097), "ZZ");
  EXPECT_EQ(image.StringGrid2.Cell(3, 4097).substr(0, 1), "?");
  EXPECT_EQ(UpdateFileText(image), text) << "cells keep the digits as written";
}

// Anything that is not a regular file is refused at once as an input/output
// error. Each read runs in a child under a watchdog, so a regression fails
// instead of hanging the suite.
TEST_F(UpdateFile, SpecialFilesAreRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo((dir_ / "pipe.qv").c_str(), 0600), 0);
  fs::create_symlink(dir_ / "pipe.qv", dir_ / "link.qv");
  fs::create_directories(dir_ / "dir.qv");
  fs::create_symlink("/dev/null", dir_ / "null.qv");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string sockPath = (dir_ / "sock.qv").string();
  ASSERT_LT(sockPath.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, sockPath.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  for (const auto& [name, code] : {std::pair{"pipe.qv", ESPIPE}, std::pair{"link.qv", ESPIPE},
                                   std::pair{"dir.qv", EISDIR}, std::pair{"null.qv", ENODEV},
                                   std::pair{"sock.qv", ESPIPE}}) {
    const std::string path = (dir_ / name).string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::alarm(5);
      TImage image;
      try {
        ReadUpdateFile(path, image);
        ::_exit(100);
      } catch (const EInOutError& e) {
        ::_exit(e.Code() == code && std::string(e.what()) == "I/O error " + std::to_string(code) ? 0 : 101);
      } catch (...) {
        ::_exit(102);
      }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << name << ": blocked (killed by its watchdog)";
    EXPECT_EQ(WEXITSTATUS(status), 0) << name;
  }
  ::close(sock);
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
