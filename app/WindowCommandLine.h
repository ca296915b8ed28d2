#pragma once
// The window programs' command line, read before Qt starts so that --help
// and --version answer where there is no display:
//   qvloader [FILE.qv]   qvdemo [--fast] [FILE.qv]   -h/--help   -v/--version
// Qt's own options (-platform, -style, ...) pass through to Qt; anything
// else that looks like an option is a usage error.
#include <string>

struct TWindowCommandLine {
  bool help = false;
  bool version = false;
  bool fast = false;  // qvdemo: the simulated device answers at once
  std::string file;   // loaded at start as if picked; empty: none
  std::string error;  // a usage error to report; empty: none
};

// `program` is the name the texts use ("qvloader", "qvdemo"); the demo has an option of its own.
TWindowCommandLine ParseWindowCommandLine(int argc, const char* const argv[], const std::string& program = "qvloader");
std::string WindowUsage(const std::string& program);

// Where a window can open: on Linux a display named in the environment or a
// platform chosen for Qt; on Windows the desktop is always there. Returns the
// one-line reason when there is none (WindowSystem*.cpp, one per system).
std::string MissingDisplayReason(int argc, const char* const argv[]);

// Answers --help, --version and usage errors, and refuses to start without a
// display, where the user sees it (WindowSystem::ShowText). Returns the exit status when the program
// is to end here, or -1 to go on and open the window.
int AnswerWithoutWindow(const std::string& program, const TWindowCommandLine& line, int argc, const char* const argv[]);
