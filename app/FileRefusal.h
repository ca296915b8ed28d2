#pragma once
// Why the update file reader refused a file, in Russian, for the line below
// the refusal's own text in its message box.
#include <QString>
#include <cstdint>

#include "UpdateFile.h"

// A file of `size` bytes, which is not the update file's size.
QString WrongSizeReason(std::uintmax_t size);
// A file of the right size that is damaged inside, at `fault`.
QString DamagedFileReason(const TUpdateFileFault& fault);
