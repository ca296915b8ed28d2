// qvloader: the production program.
#include "Application.h"
#include "WindowCommandLine.h"

int main(int argc, char* argv[]) {
  const TWindowCommandLine line = ParseWindowCommandLine(argc, argv);
  if (const int status = AnswerWithoutWindow("qvloader", line, argc, argv); status >= 0) return status;
  const std::unique_ptr<QApplication> app = StartApplication(argc, argv, "qvloader");
  TLoaderStart start;
  start.file = QString::fromStdString(line.file);
  return RunLoader(*app, std::move(start));
}
