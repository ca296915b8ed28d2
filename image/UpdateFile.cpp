#include "UpdateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void ThrowInOutError(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      throw EInOutError(code, "File not found");
    case EACCES:
    case EPERM:
      throw EInOutError(code, "File access denied");
    default:
      throw EInOutError(code, "I/O error " + std::to_string(code));
  }
}

// Closes the descriptor on every way out of the reader.
class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

std::string ReadAll(int fd, std::size_t size) {
  std::string text(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, text.data() + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno);
    }
    if (n == 0) break;  // the file shrank under us: the rest reads as empty lines
    done += static_cast<std::size_t>(n);
  }
  text.resize(done);
  return text;
}

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

}  // namespace

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
                                  const std::function<void()>& extensionAccepted) {
  if (!chosen) return TUpdateFileOutcome::Cancelled;
  if (!HasUpdateFileExtension(*chosen)) return TUpdateFileOutcome::ExtensionIgnored;
  if (extensionAccepted) extensionAccepted();

  // Read access alone: a read-only update file must load.
  FileDescriptor file(::open(chosen->c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) ThrowInOutError(errno);
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) ThrowInOutError(errno);
  if (S_ISDIR(info.st_mode)) ThrowInOutError(EISDIR);
  if (static_cast<std::uintmax_t>(info.st_size) != UpdateFileSize) return TUpdateFileOutcome::SizeRefused;

  // The whole file is read before any cell changes, so a read error leaves the image intact.
  const std::string text = ReadAll(file.get(), static_cast<std::size_t>(UpdateFileSize));
  FillImageFromText(text, image);
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
  const std::string text = UpdateFileText(image);
  FileDescriptor file(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) ThrowInOutError(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(file.get(), text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowInOutError(errno);
    }
    done += static_cast<std::size_t>(n);
  }
  return target;
}
