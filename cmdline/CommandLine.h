#pragma once
// Options read with getopt_long, as every other command-line tool reads
// them: "--port=NAME" and "--port NAME", bundled short options ("-qv"),
// unique prefixes of long options, "--" before operands. The programs differ
// only in their tables; a usage error is worded the same way in each.
#include <getopt.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// A usage error, its text without the program's name ("unknown option '--x'").
class EUsageError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

struct TCommandLineSyntax {
  const char* shortOptions = "";    // getopt's string, e.g. "p:t:qvh"
  std::vector<option> longOptions;  // without the closing all-zero entry
  // Long options may also be written with one dash ("-platform"), as Qt's
  // are; a single letter that is a short option stays one.
  bool longOnly = false;
};

// Calls `take(id, value)` for every option in the order given (`id` is the
// short letter or the long option's `val`; `value` is null for an option
// without one) and returns the operands. Throws EUsageError for an unknown,
// ambiguous or misused option; whatever `take` throws passes through.
std::vector<std::string> ParseCommandLine(int argc, const char* const argv[], const TCommandLineSyntax& syntax,
                                          const std::function<void(int id, const char* value)>& take);

// The line that follows a usage error: "Try 'qvflash --help'."
std::string TryHelpLine(const std::string& program);
