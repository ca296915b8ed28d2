// qvloader: the production program.
#include <QApplication>

#include "Application.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  return RunLoader(app, {});
}
