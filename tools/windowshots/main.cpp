// windowshots DIR: runs the demo window through a paced load into the
// simulated device and saves screenshots of the screen fresh, during each
// phase and after the load (and the debug page), for a person to look at.
// Run it under a display, e.g. xvfb-run -a -s "-screen 0 1024x768x24".
#include <QApplication>
#include "PortComboBox.h"
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <cstdio>
#include <functional>

#include "Application.h"
#include "EventLoopWait.h"
#include "ColorButton.h"
#include "DemoSimulator.h"
#include "SampleImage.h"
#include "UpdateFile.h"

namespace {

void Shot(TForm1& form, const QString& dir, const char* name) {
  ProcessEventsUntil([] { return false; }, 150);  // let the window paint
  const QPixmap pixmap = form.screen()->grabWindow(0);
  const QString path = QDir(dir).filePath(QString::fromLatin1(name) + ".png");
  pixmap.save(path);
  std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  QDir().mkpath(dir);
  const auto runner = InitApplication(app);
  const std::string file = WriteUpdateFile(QDir(dir).filePath("sample.qv").toStdString(), MakeSampleImage(1));

  TSimOptions options;
  options.Baud = 384000;  // ten times the line's speed: a load takes about seven seconds
  TDemoSimulator simulator(options);
  int result = 0;
  {
    TForm1 form({{QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }}});
    form.move(0, 0);
    form.show();
    Shot(form, dir, "1-fresh");

    form.ChooseUpdateFile = [&file] { return std::optional<QString>(QString::fromStdString(file)); };
    form.SpeedButton1Click();
    form.ComboBox1->setCurrentIndex(form.ComboBox1->count() - 1);
    form.ColorButton4->SetChecked(true);
    form.ColorButton4Click();
    auto frames = [&] { return simulator.Device() ? simulator.Device()->Result().FramesReceived : 0; };
    if (!ProcessEventsUntil([&] { return frames() >= 256; }, 30000)) result = 1;
    Shot(form, dir, "2-data-flash");
    if (!ProcessEventsUntil([&] { return frames() >= 800; }, 30000)) result = 1;
    Shot(form, dir, "3-program-memory");
    if (!ProcessEventsUntil([&] { return !form.ColorButton4->Checked(); }, 30000)) result = 1;
    Shot(form, dir, "4-complete");
    form.PageControl1->setCurrentIndex(2);
    Shot(form, dir, "5-debug-page");
    form.PageControl1->setCurrentIndex(1);
    Shot(form, dir, "6-data-flash-table");
  }
  runner->Shutdown();
  SetMainThreadRunner(nullptr);
  return result;
}
