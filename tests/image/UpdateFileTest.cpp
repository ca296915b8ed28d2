// The update file: names, sizes, the shape of a well-formed file, the writer,
// names outside ASCII, and file-system errors every system shares.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "SampleImage.h"
#include "UpdateFile.h"
#include "UpdateFileFixture.h"

namespace fs = std::filesystem;

namespace {

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
    EXPECT_EQ(ReadUpdateFile(
                  Write("d.qv", c.text), image, [&] { ++cleared; }, &fault),
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
  auto at = [](int line, int column) {
    return static_cast<std::size_t>(line - 1) * 34 + static_cast<std::size_t>(column - 1);
  };
  for (const auto& [line, column, ch] :
       {std::tuple{4096, 32, 'g'}, std::tuple{4098, 1, ' '}, std::tuple{8193, 17, '\0'}}) {
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
  text[at(8194, 5)] = '?';                                         // data flash's tail line
  for (char& c : text)                                             // lower-case digits everywhere
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  TImage image;
  ASSERT_EQ(ReadUpdateFile(Write("t.qv", text), image), TUpdateFileOutcome::Read);
  EXPECT_EQ(image.StringGrid1.Cell(1, 4097), "ZZ");
  EXPECT_EQ(image.StringGrid2.Cell(3, 4097).substr(0, 1), "?");
  EXPECT_EQ(UpdateFileText(image), text) << "cells keep the digits as written";
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

TEST_F(UpdateFile, WriterAppendsTheExtensionWhenMissing) {
  const TImage image = MakeSampleImage(8);
  EXPECT_EQ(WriteUpdateFile((dir_ / "x").string(), image), (dir_ / "x.QV").string());
  EXPECT_EQ(WriteUpdateFile((dir_ / "y.qv").string(), image), (dir_ / "y.qv").string());
  EXPECT_EQ(fs::file_size(dir_ / "x.QV"), UpdateFileSize);
  TImage back;
  ASSERT_EQ(ReadUpdateFile((dir_ / "x.QV").string(), back), TUpdateFileOutcome::Read);
  EXPECT_EQ(UpdateFileText(back), UpdateFileText(image));
}

// Names are UTF-8 on every system: a Cyrillic name is written, found under
// that name and read back, and what is written is the very bytes of the
// format (no line end turned into two on the way).
TEST_F(UpdateFile, CyrillicNameAndExactBytesBothWays) {
  const TImage image = MakeSampleImage(11);
  const std::string text = UpdateFileText(image);
  const std::u8string name = u8"Прошивка БК №2";
  const std::u8string whole = (dir_ / name).u8string();
  const std::string utf8(whole.begin(), whole.end());
  const std::string written = WriteUpdateFile(utf8, image);
  EXPECT_EQ(written, utf8 + ".QV");
  const fs::path onDisk = dir_ / (name + u8".QV");
  ASSERT_TRUE(fs::exists(onDisk)) << "the file carries its Cyrillic name";
  EXPECT_EQ(fs::file_size(onDisk), UpdateFileSize);
  std::ifstream in(onDisk, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, text) << "byte for byte";

  TImage back;
  ASSERT_EQ(ReadUpdateFile(written, back), TUpdateFileOutcome::Read);
  EXPECT_EQ(UpdateFileText(back), text);
  try {
    ReadUpdateFile(utf8 + "-нет.qv", back);
    FAIL() << "a missing Cyrillic name";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
}

}  // namespace
