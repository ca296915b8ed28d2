#pragma once
// One run of qvflash: read and check the file, open the port, drive the
// session, watch for stalls, and say how it ended.
#include <cstdio>
#include <string>

#include "FlashOptions.h"
#include "ImageTable.h"

// --dry-run: what would be sent, with every block's address and sum.
void PrintDryRun(const TImage& image, std::FILE* out);

// Reads the update file as the window does. Returns exSuccess or
// exFileRefused (with the reason printed on `err`; for a damaged file the
// first offending line and column).
int LoadImage(const std::string& file, TImage& image, std::FILE* err);

// Runs the whole tool; `err` gets messages and progress, `out` listings.
int RunFlash(const TFlashOptions& options, std::FILE* out, std::FILE* err);
