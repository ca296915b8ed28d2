// qvloader: the production program.
#include "Application.h"
#include "ProgramArguments.h"
#include "WindowCommandLine.h"
#include "WindowSystem.h"

int main(int argc, char* argv[]) {
  TProgramArguments arguments(argc, argv);  // a file named in Cyrillic arrives whole on every system
  const TWindowCommandLine line = ParseWindowCommandLine(arguments.Count(), arguments.Values());
  if (const int status = AnswerWithoutWindow("qvloader", line, arguments.Count(), arguments.Values()); status >= 0)
    return status;
  const std::unique_ptr<QApplication> app = StartApplication(argc, argv, "qvloader");
  TLoaderStart start;
  start.file = WindowSystem::FromCoreFileName(line.file);
  return RunLoader(*app, std::move(start));
}
