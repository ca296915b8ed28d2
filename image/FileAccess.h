#pragma once
// What the update-file reader and writer ask of the file system, with one
// implementation per system (posix/, win32/). Names are UTF-8 (on Windows
// opened by their wide-character form); bytes go in and out exactly as they
// are, never as text. Failures are thrown as EInOutError with the system's
// error number (errno, GetLastError) and its text: "File not found", "File
// access denied" or "I/O error N".
#include <cstdint>
#include <string>

namespace FileAccess {

// Reads the regular file `name`, opened for reading only. Anything else (a
// directory, FIFO, device, socket, pipe) is refused as an input/output error
// without a byte read from it, so nothing blocks. `size` receives the file's
// size; when it is not `expected` nothing is read and false is returned.
// A file that shrinks while it is read gives what was there.
bool ReadRegularFile(const std::string& name, std::uintmax_t expected, std::string& text, std::uintmax_t& size);

// Creates `name`, or empties it, and writes `bytes` to it.
void WriteWholeFile(const std::string& name, const std::string& bytes);

}  // namespace FileAccess
