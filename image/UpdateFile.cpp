#include "UpdateFile.h"

#include <array>
#include <cstdio>

#include "FileAccess.h"
#include "HexText.h"

namespace {

// Splits the text into lines as a text-file reader does: a line ends at LF or
// CR LF; past the end every further line is empty.
class LineReader {
public:
  explicit LineReader(std::string_view text) : text_(text) {}
  std::string_view Next() {
    if (pos_ >= text_.size()) return {};
    const std::size_t lf = text_.find('\n', pos_);
    std::size_t end = lf == std::string_view::npos ? text_.size() : lf;
    const std::size_t start = pos_;
    pos_ = lf == std::string_view::npos ? text_.size() : lf + 1;
    if (lf != std::string_view::npos && end > start && text_[end - 1] == '\r') --end;
    return text_.substr(start, end - start);
  }

private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

void FillTable(LineReader& lines, TImageTable& table) {
  for (int row = 1; row <= TImageTable::TailRow; ++row) {
    const std::string_view line = lines.Next();
    for (int c = 0; c < 16; ++c) {
      const std::size_t at = static_cast<std::size_t>(2 * c);
      table.SetCell(c + 1, row, at < line.size() ? std::string(line.substr(at, 2)) : std::string());
    }
  }
}

constexpr std::size_t kLineChars = 32;
constexpr std::size_t kLineBytes = kLineChars + 2;
constexpr int kFileLines = 2 * UpdateFileRegionLines;

// A character as a message can show it: printable ones quoted, others as hex.
std::string Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x20 && byte < 0x7F) return std::string("'") + c + "'";
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return hex;
}

// The tail line of each region is stored but never sent.
bool IsSentLine(int line) { return line % UpdateFileRegionLines != 0; }

std::optional<TUpdateFileFault> LineFault(std::string_view line, int number) {
  for (std::size_t i = 0; i < kLineChars; ++i) {
    const char c = line[i];
    const int column = static_cast<int>(i) + 1;
    if (c == '\r' || c == '\n')
      return TUpdateFileFault{number, column, "the line ends after " + std::to_string(i) + " characters instead of 32",
                              TUpdateFileFaultKind::LineTooShort, c};
    if (IsSentLine(number) && !IsHexDigit(c))
      return TUpdateFileFault{number, column, Shown(c) + " is not a hexadecimal digit",
                              TUpdateFileFaultKind::NotHexDigit, c};
  }
  const char end = line[kLineChars];
  if (end == '\n')
    return TUpdateFileFault{number, 33, "an LF without CR ends the line", TUpdateFileFaultKind::LfWithoutCr, end};
  if (end != '\r')
    return TUpdateFileFault{number, 33, "the line is longer than 32 characters", TUpdateFileFaultKind::LineTooLong,
                            end};
  if (line[kLineChars + 1] != '\n')
    return TUpdateFileFault{number, 34, "a CR without LF ends the line", TUpdateFileFaultKind::CrWithoutLf,
                            line[kLineChars + 1]};
  return std::nullopt;
}

// The common case, a whole line, with one table look-up a character; only a
// line that fails it is examined again to say what is wrong.
bool LineIsWhole(std::string_view line, bool sent) {
  static const auto kinds = [] {
    std::array<unsigned char, 256> table{};  // 1: may stand in a tail line, 3: also in a sent line
    for (int c = 0; c < 256; ++c) {
      const char ch = static_cast<char>(c);
      table[static_cast<std::size_t>(c)] = IsHexDigit(ch) ? 3 : (ch == '\r' || ch == '\n') ? 0 : 1;
    }
    return table;
  }();
  const unsigned char need = sent ? 3 : 1;
  unsigned char all = need;
  for (std::size_t i = 0; i < kLineChars; ++i) all &= kinds[static_cast<unsigned char>(line[i])];
  return all == need && line[kLineChars] == '\r' && line[kLineChars + 1] == '\n';
}

}  // namespace

std::optional<TUpdateFileFault> FindUpdateFileFault(std::string_view text) {
  for (int k = 0; k < kFileLines; ++k) {
    const std::size_t at = static_cast<std::size_t>(k) * kLineBytes;
    if (at + kLineBytes > text.size())
      return TUpdateFileFault{k + 1, 1, "the file ends before its last line", TUpdateFileFaultKind::FileTooShort};
    const std::string_view line = text.substr(at, kLineBytes);
    if (LineIsWhole(line, IsSentLine(k + 1))) continue;
    if (auto fault = LineFault(line, k + 1)) return fault;
  }
  return std::nullopt;
}

bool HasUpdateFileExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.rfind('/');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return false;
  std::string extension(name.substr(dot));
  for (char& ch : extension)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return extension == ".QV";
}

void FillImageFromText(std::string_view text, TImage& image) {
  LineReader lines(text);
  FillTable(lines, image.StringGrid1);
  FillTable(lines, image.StringGrid2);
}

TUpdateFileOutcome ReadUpdateFile(const std::optional<std::string>& chosen, TImage& image,
                                  const std::function<void()>& extensionAccepted, TUpdateFileFault* fault,
                                  std::string* bytes) {
  if (!chosen) return TUpdateFileOutcome::Cancelled;
  if (!HasUpdateFileExtension(*chosen)) return TUpdateFileOutcome::ExtensionIgnored;
  if (extensionAccepted) extensionAccepted();

  std::string text;
  std::uintmax_t size = 0;
  if (!FileAccess::ReadRegularFile(*chosen, UpdateFileSize, text, size)) return TUpdateFileOutcome::SizeRefused;

  // The whole file is read and checked before any cell changes, so neither a
  // read error nor a damaged file touches the image.
  if (auto found = FindUpdateFileFault(text)) {
    if (fault) *fault = std::move(*found);
    return TUpdateFileOutcome::ShapeRefused;
  }
  FillImageFromText(text, image);
  if (bytes) *bytes = std::move(text);
  return TUpdateFileOutcome::Read;
}

std::string UpdateFileText(const TImage& image) {
  std::string text;
  text.reserve(static_cast<std::size_t>(UpdateFileSize));
  for (const TImageTable* table : {&image.StringGrid1, &image.StringGrid2}) {
    for (int row = 1; row <= TImageTable::TailRow; ++row) {
      for (int col = 1; col < TImageTable::ColCount; ++col) text += table->Cell(col, row);
      text += "\r\n";
    }
  }
  return text;
}

std::string WriteUpdateFile(const std::string& name, const TImage& image) {
  const std::string target = HasUpdateFileExtension(name) ? name : name + ".QV";
  FileAccess::WriteWholeFile(target, UpdateFileText(image));
  return target;
}
