#include "CommandLine.h"

#include <algorithm>
#include <mutex>
#include <string_view>

namespace {

// getopt keeps its place in globals: one parse at a time.
std::mutex getoptMutex;

// The long option that `arg` names ("--port=x", or "-platform" where long
// options take one dash), exactly or by a unique prefix; null for none.
const option* NamedLongOption(const char* arg, const TCommandLineSyntax& syntax) {
  std::string_view text = arg ? arg : "";
  if (text.substr(0, 2) == "--")
    text.remove_prefix(2);
  else if (syntax.longOnly && text.size() > 2 && text[0] == '-')
    text.remove_prefix(1);
  else
    return nullptr;
  text = text.substr(0, text.find('='));
  const option* found = nullptr;
  int prefixed = 0;
  for (const option& o : syntax.longOptions) {
    if (text == o.name) return &o;
    if (std::string_view(o.name).substr(0, text.size()) == text) found = &o, ++prefixed;
  }
  return prefixed == 1 ? found : nullptr;
}

// The long options that begin with what `written` names, when more than one does.
std::string Candidates(std::string_view written, const std::vector<option>& longOptions) {
  const std::string_view stem = written.substr(std::min(written.find_first_not_of('-'), written.size()));
  std::string names;
  int count = 0;
  for (const option& o : longOptions)
    if (std::string_view(o.name).substr(0, stem.size()) == stem)
      names += (count++ == 0 ? "--" : ", --") + std::string(o.name);
  return count > 1 ? names : "";
}

[[noreturn]] void ThrowUsageError(int id, const char* arg, const TCommandLineSyntax& syntax) {
  // `arg` is the element getopt took last; in the middle of a bundle of short
  // options that may still be an earlier one, so it counts only when it
  // names the very option that failed.
  const option* named = NamedLongOption(arg, syntax);
  const std::string asWritten = arg ? std::string(arg).substr(0, std::string(arg).find('=')) : std::string();
  const std::string letter = std::string("-") + static_cast<char>(::optopt);
  // A value given to an option that takes none: glibc reports it as an
  // unknown option ('?'), MinGW's getopt as a missing value (':').
  const bool valueGiven = arg && std::string_view(arg).find('=') != std::string_view::npos;
  if (named && named->val == ::optopt && named->has_arg == no_argument && valueGiven)
    throw EUsageError("option '" + asWritten + "' takes no value");
  if (id == ':')
    throw EUsageError("option '" + (named && named->val == ::optopt ? asWritten : letter) + "' needs a value");
  if (::optopt == 0) {  // a long option that is not in the table, or not one alone
    if (const std::string candidates = Candidates(asWritten, syntax.longOptions); !candidates.empty())
      throw EUsageError("option '" + asWritten + "' is ambiguous: " + candidates);
    throw EUsageError("unknown option '" + asWritten + "'");
  }
  if (named && named->val == ::optopt) throw EUsageError("option '" + asWritten + "' takes no value");
  throw EUsageError("unknown option '" + letter + "'");
}

}  // namespace

std::vector<std::string> ParseCommandLine(int argc, const char* const argv[], const TCommandLineSyntax& syntax,
                                          const std::function<void(int id, const char* value)>& take) {
  // getopt moves operands behind the options: it works on a copy of the pointers.
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
  args.push_back(nullptr);
  std::vector<option> longOptions = syntax.longOptions;
  longOptions.push_back({nullptr, 0, nullptr, 0});
  // A leading ':' has a missing value reported apart from an unknown option.
  const std::string shortOptions = std::string(":") + syntax.shortOptions;

  std::lock_guard lock(getoptMutex);
  ::opterr = 0;
  ::optind = 0;  // 0 starts afresh, forgetting any earlier parse
  for (;;) {
    ::optopt = 0;
    const int id = syntax.longOnly
                       ? ::getopt_long_only(argc, args.data(), shortOptions.c_str(), longOptions.data(), nullptr)
                       : ::getopt_long(argc, args.data(), shortOptions.c_str(), longOptions.data(), nullptr);
    if (id == -1) break;
    if (id == ':' || id == '?')
      ThrowUsageError(id, ::optind > 0 && ::optind <= argc ? args[static_cast<std::size_t>(::optind - 1)] : nullptr,
                      syntax);
    take(id, ::optarg);
  }
  std::vector<std::string> operands;
  for (int i = ::optind; i < argc; ++i) operands.emplace_back(args[static_cast<std::size_t>(i)]);
  return operands;
}

std::string TryHelpLine(const std::string& program) { return "Try '" + program + " --help'."; }
