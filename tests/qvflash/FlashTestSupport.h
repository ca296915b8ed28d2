#pragma once
// What the qvflash tests share: a run of the tool in this process, files
// read whole, and the JSON reader for what qvflash writes.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "FlashOptions.h"
#include "FlashRun.h"

struct RunOutput {
  int status = -1;
  std::string out, err;
};

inline std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// qvflash with these arguments, run in this process. Its messages go to
// `err` when one is given (a file another thread can watch), else to a
// temporary file.
inline RunOutput RunQvflash(std::vector<std::string> args, std::FILE* messages = nullptr) {
  args.insert(args.begin(), "qvflash");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  RunOutput result;
  std::FILE* out = std::tmpfile();
  std::FILE* err = messages ? messages : std::tmpfile();
  try {
    result.status = RunFlash(ParseFlashOptions(static_cast<int>(argv.size()), argv.data()), out, err);
  } catch (const std::invalid_argument&) {
    result.status = exUsage;
  }
  result.out = ReadAll(out);
  result.err = ReadAll(err);
  return result;
}

// What qvflash writes must parse as JSON, strictly (well-formed UTF-8 too).
using TJson = nlohmann::json;
