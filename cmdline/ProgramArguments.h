#pragma once
// The program's arguments as UTF-8, the way every layer takes names. On
// Windows they are read again from the wide-character command line: the argv
// of main holds them in the ANSI code page, where a Cyrillic file name is
// lost. One implementation per system (posix/, win32/).
#include <string>
#include <vector>

class TProgramArguments {
public:
  TProgramArguments(int argc, char** argv);
  TProgramArguments(const TProgramArguments&) = delete;
  TProgramArguments& operator=(const TProgramArguments&) = delete;

  int Count() const { return static_cast<int>(strings_.size()); }
  // argv's shape: Count() strings, then a null pointer; they live as long as this object.
  char** Values() { return pointers_.data(); }

private:
  void Keep(std::vector<std::string> strings);

  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};
