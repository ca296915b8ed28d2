// Windows: the wide-character command line, split by the system's own rules
// (quotes, backslashes before quotes) and turned into UTF-8.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include "ProgramArguments.h"
#include "win32/Utf16Text.h"

TProgramArguments::TProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    Keep(std::vector<std::string>(argv, argv + argc));
    return;
  }
  std::vector<std::string> strings;
  for (int i = 0; i < count; ++i) strings.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  Keep(std::move(strings));
}
