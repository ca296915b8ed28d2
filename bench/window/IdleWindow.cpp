// The loader's window left idle with its port open on a given device: the
// switch is turned on (the session then waits for the device's greeting) and
// the window runs until it is killed. For counting wake-ups on a silent line
// (bench/serial/silent_line_wakeups). Offscreen unless a display is set.
//
//   idle_window DEVICE [--steady-caret]
//     --steady-caret   the text cursor does not blink (Qt blinks it every
//                      500 ms in the focused file-name box, which wakes the
//                      window twice a second on its own)
#include <QApplication>
#include <QComboBox>
#include <cstdio>
#include <string>

#include "Application.h"
#include "ColorButton.h"
#include "PortComboBox.h"

int main(int argc, char* argv[]) {
  const bool steadyCaret = argc == 3 && std::string(argv[2]) == "--steady-caret";
  if (argc != 2 && !steadyCaret) {
    std::fprintf(stderr, "usage: idle_window DEVICE [--steady-caret]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string device = argv[1];
  QApplication app(argc, argv);
  if (steadyCaret) QApplication::setCursorFlashTime(0);
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
