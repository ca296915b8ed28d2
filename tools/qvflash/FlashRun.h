#pragma once
// One run of qvflash: read and check the file once, then on each port (a
// thread each, see PortRun.h) open it, drive a session, watch for stalls and
// say how it ended; record every attempt, and sum up.
#include <cstdio>
#include <string>
#include <vector>

#include "DeviceRecord.h"
#include "FlashOptions.h"
#include "ImageTable.h"
#include "PortProblem.h"

// What a user can do about a port that would not open, in qvflash's words;
// empty when nothing is known. `name` is the port as given to --port.
std::string PortHint(const std::string& name, const TPortProblem& problem);

// --list-ports: the name to give --port, and the window's label where it says more.
void PrintPortList(const std::vector<TPortInfo>& ports, std::FILE* out);

// --dry-run: what would be sent, with every block's address and sum.
void PrintDryRun(const TImage& image, std::FILE* out);

// Reads the update file as the window does. Returns exSuccess or
// exFileRefused (with the reason printed on `err`; for a damaged file the
// first offending line and column).
int LoadImage(const std::string& file, TImage& image, std::FILE* err);
// The same, with the path, size and SHA-256 of the very bytes loaded.
int LoadImage(const std::string& file, TImage& image, TFileFacts& facts, std::FILE* err);

// Runs the whole tool; `err` gets messages and progress, `out` listings.
int RunFlash(const TFlashOptions& options, std::FILE* out, std::FILE* err);
