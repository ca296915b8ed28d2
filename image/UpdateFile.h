#pragma once
// The update file: 8194 lines of 32 hex digits and CR LF, 278596 bytes, name
// ending in ".qv" (any case). Lines 1..4097 fill rows 1..4097 of the program
// memory table, lines 4098..8194 those of the data-flash table.
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "ImageTable.h"

inline constexpr std::uintmax_t UpdateFileSize = 278596;
inline constexpr int UpdateFileRegionLines = TImageTable::TailRow;  // 4097 lines a region

// A file that cannot be opened or read. Its text is the system's:
// "File not found", "File access denied" or "I/O error %d".
class EInOutError : public std::runtime_error {
public:
  EInOutError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int Code() const { return code_; }

private:
  int code_;
};

enum class TUpdateFileOutcome {
  Cancelled,         // no file was chosen: nothing changes
  ExtensionIgnored,  // the name does not end in ".qv": silently ignored
  SizeRefused,       // not exactly 278596 bytes: the caller shows its refusal
  ShapeRefused,      // the right size but damaged inside: refused like a wrong size
  Read,              // both tables' rows 1..4097 replaced
};

// Where a file of the right size first departs from the well-formed shape:
// 8194 lines of exactly 32 characters and CR LF, hex digits (either case) in
// every line that is sent. The two tail lines (4097 and 8194) are never sent,
// so there only the shape counts.
// clang-format off
enum class TUpdateFileFaultKind {
  NotHexDigit,   // Character stands where a hexadecimal digit must
  LineTooShort,  // the line ends at Column, before its 32nd character
  LineTooLong,   // a 33rd character where CR must stand
  LfWithoutCr,   // the line ends in LF alone
  CrWithoutLf,   // CR not followed by LF
  FileTooShort,  // the text ends before line Line
};
// clang-format on

struct TUpdateFileFault {
  int Line = 0;      // from 1
  int Column = 0;    // from 1, the character position in that line
  std::string What;  // e.g. "'G' is not a hexadecimal digit"
  TUpdateFileFaultKind Kind = TUpdateFileFaultKind::NotHexDigit;
  char Character = 0;  // the character found at Column (none for FileTooShort)
};

// The first fault of a file's text that is UpdateFileSize bytes long; none
// when the text is well formed.
std::optional<TUpdateFileFault> FindUpdateFileFault(std::string_view text);

// The name's extension (from the last "." after the last "/" to the end),
// upper-cased, is ".QV".
bool HasUpdateFileExtension(std::string_view name);

// Names are UTF-8 here and in the writer (on Windows the file is opened by
// the name's wide-character form); files are read and written as bytes.
//
// Reads the chosen file into both tables. `chosen` is empty when the user
// cancelled. `extensionAccepted` runs once the extension has passed, before
// the size is looked at (the window clears its logs there). The file is opened
// for reading only. Throws EInOutError when it cannot be opened or read, or is
// not a regular file (a FIFO, device, socket or directory is refused without
// opening it, so nothing blocks); the tables are then unchanged. A damaged
// file of the right size gives ShapeRefused, with the fault in `fault` when
// one is given, and changes nothing. When the file is Read, `bytes` (when
// given) receives the very bytes the tables were filled from.
TUpdateFileOutcome ReadUpdateFile(const std::optional<std::string>& chosen, TImage& image,
                                  const std::function<void()>& extensionAccepted = {},
                                  TUpdateFileFault* fault = nullptr, std::string* bytes = nullptr);

// Fills rows 1..4097 of both tables from the file's text by the reader's rules
// (LF or CR LF line ends, short and long lines, empty lines past the end).
void FillImageFromText(std::string_view text, TImage& image);

// The format's writer: rows 1..4097 of StringGrid1, then of StringGrid2, each
// row's cells 1..16 joined, CR LF after each line.
std::string UpdateFileText(const TImage& image);

// Writes UpdateFileText to `name`, appending ".QV" when the name's extension
// is not ".qv" in any case. Returns the name written. Throws EInOutError.
std::string WriteUpdateFile(const std::string& name, const TImage& image);
