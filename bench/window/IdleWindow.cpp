// The loader's window left idle with its port open on a given device: the
// switch is turned on (the session then waits for the device's greeting) and
// the window runs until it is killed. For counting wake-ups on a silent line
// (bench/serial/silent_line_wakeups). Offscreen unless a display is set.
//
//   idle_window DEVICE
#include <QApplication>
#include <QComboBox>
#include <cstdio>
#include <string>

#include "Application.h"
#include "ColorButton.h"
#include "PortComboBox.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: idle_window DEVICE\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string device = argv[1];
  QApplication app(argc, argv);
  const auto runner = InitApplication(app);
  int result = 0;
  {
    TForm1 form({{QString::fromStdString(device), [device] { return device; }}});
    form.show();
    form.ComboBox1->setCurrentIndex(form.ComboBox1->count() - 1);
    form.ColorButton4->SetChecked(true);
    form.ColorButton4Click();
    std::fprintf(stderr, "idle_window: port %s open, waiting\n", device.c_str());
    result = app.exec();
    runner->Shutdown();
  }
  SetMainThreadRunner(nullptr);
  return result;
}
