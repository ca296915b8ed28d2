// Windows: the wide-character command line, split by the system's own rules
// (quotes, backslashes before quotes) and turned into UTF-8.
#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include "ProgramArguments.h"

namespace {

std::string Utf8(const wchar_t* wide) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string text(static_cast<std::size_t>(n - 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), n, nullptr, nullptr);
  return text;
}

}  // namespace

TProgramArguments::TProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) {
    Keep(std::vector<std::string>(argv, argv + argc));
    return;
  }
  std::vector<std::string> strings;
  for (int i = 0; i < count; ++i) strings.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  Keep(std::move(strings));
}
