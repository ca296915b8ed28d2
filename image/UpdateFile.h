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
  Read,              // both tables' rows 1..4097 replaced
};

// The name's extension (from the last "." after the last "/" to the end),
// upper-cased, is ".QV".
bool HasUpdateFileExtension(std::string_view name);

// Reads the chosen file into both tables. `chosen` is empty when the user
// cancelled. `extensionAccepted` runs once the extension has passed, before
// the size is looked at (the window clears its logs there). The file is opened
// for reading only. Throws EInOutError when it cannot be opened or read; the
// tables are then unchanged.
TUpdateFileOutcome ReadUpdateFile(const std::optional<std::string>& chosen, TImage& image,
                                  const std::function<void()>& extensionAccepted = {});

// Fills rows 1..4097 of both tables from the file's text by the reader's rules
// (LF or CR LF line ends, short and long lines, empty lines past the end).
void FillImageFromText(std::string_view text, TImage& image);

// The format's writer: rows 1..4097 of StringGrid1, then of StringGrid2, each
// row's cells 1..16 joined, CR LF after each line.
std::string UpdateFileText(const TImage& image);

// Writes UpdateFileText to `name`, appending ".QV" when the name's extension
// is not ".qv" in any case. Returns the name written. Throws EInOutError.
std::string WriteUpdateFile(const std::string& name, const TImage& image);
