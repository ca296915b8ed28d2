// windowshots DIR: runs the demo window through a paced load into the
// simulated device and saves screenshots of the screen fresh, during each
// phase and after the load (and the debug page during and after it), then of the open-file
// dialog, port errors with their hints and the switch after them, a damaged
// file's refusal with its reason, the longest status texts and the port list
// with a described adapter, for a person to look at. It prints the
// status texts' widths in the status band's face and in DejaVu Sans.
// Run it under a display, e.g. xvfb-run -a -s "-screen 0 1024x768x24". It
// ends with status 1 when the load did not complete.
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QToolTip>
#include <cstdio>
#include <functional>

#include "Application.h"
#include "ColorButton.h"
#include "DemoSimulator.h"
#include "EventLoopWait.h"
#include "Fonts.h"
#include "PortComboBox.h"
#include "SampleImage.h"
#include "ShotPorts.h"
#include "UpdateFile.h"

namespace {

void Shot(TForm1& form, const QString& dir, const char* name) {
  ProcessEventsUntil([] { return false; }, 150);  // let the window paint
  const QPixmap pixmap = form.screen()->grabWindow(0);
  const QString path = QDir(dir).filePath(QString::fromLatin1(name) + ".png");
  pixmap.save(path);
  std::printf("%s\n", qPrintable(path));
}

// Opens a modal dialog with `open` and saves the screen while it shows.
// A system's own dialog (the file dialog on Windows) may take a while to come
// up, and a close asked for before it is up is lost: the screen is saved and
// the dialog asked to close again every 400 ms until `open` returns.
void ShotModal(const QString& dir, const char* name, const std::function<void()>& open) {
  const QString path = QDir(dir).filePath(QString::fromLatin1(name) + ".png");
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&path] {
    QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->reject();
  });
  closer.start(400);
  open();
  std::printf("%s\n", qPrintable(path));
}

void PrintStatusWidths(const TForm1& form) {
  QFont dejaVu = form.Label2->font();
  dejaVu.setFamilies({QStringLiteral("DejaVu Sans")});
  const QFontMetrics band(form.Label2->font()), wide(dejaVu);
  std::printf("status band %d px, face %s; widths in it and in DejaVu Sans:\n", form.Label2->contentsRect().width(),
              qPrintable(QFontInfo(form.Label2->font()).family()));
  for (const QString& text : TForm1::StatusTexts())
    std::printf("  %4d %4d  %s\n", band.horizontalAdvance(text), wide.horizontalAdvance(text), qPrintable(text));
}

void DesktopShots(TForm1& form, const QString& dir, const std::string& file) {
  form.PageControl1->setCurrentIndex(0);
  form.ChooseUpdateFile = nullptr;  // the real dialog
  form.DialogFolder = QFileInfo(QString::fromStdString(file)).absolutePath();
  ShotModal(dir, "7-file-dialog", [&] { form.SpeedButton1Click(); });

  const std::shared_ptr<void> adapter = ShowDescribedAdapter(form);
  form.ComboBox1->showPopup();
  Shot(form, dir, "8-port-list");
  form.ComboBox1->hidePopup();

  // After a refused port the switch stays on until it is clicked off.
  form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(QStringLiteral("Нет порта")));
  ShotModal(dir, "9-port-error-not-found", [&] { form.ClickSwitch(); });
  Shot(form, dir, "9a-switch-after-refused-port");
  form.ClickSwitch();
  form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(QStringLiteral("Не порт")));
  ShotModal(dir, "10-port-error-not-a-port", [&] { form.ClickSwitch(); });
  form.ClickSwitch();

  // A damaged file: the refusal with its reason below it.
  std::string damaged = UpdateFileText(MakeSampleImage(2));
  damaged[147 * 34 + 2] = 'Z';
  const QString damagedPath = QDir(dir).filePath(QStringLiteral("damaged.qv"));
  if (QFile out(damagedPath); out.open(QIODevice::WriteOnly))
    out.write(damaged.data(), static_cast<qint64>(damaged.size()));
  ShotModal(dir, "10a-refused-file", [&] { form.OpenUpdateFile(damagedPath); });

  PrintStatusWidths(form);
  form.SetStatus(TForm1::StatusTexts()[1]);
  Shot(form, dir, "11-status-stopped-for-new-file");
  form.SetStatus(TForm1::StatusTexts()[0]);
  Shot(form, dir, "12-status-refused-file");
  form.SetStatus(TForm1::StatusTexts().back());
  QToolTip::showText(form.Label2->mapToGlobal(QPoint(40, 20)), form.Label2->toolTip(), form.Label2);
  Shot(form, dir, "13-status-error-with-tooltip");
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
    TForm1 form({{QStringLiteral("Симулятор"), [&simulator] { return simulator.StartDevice(); }},
                 {QStringLiteral("Нет порта"), [] { return MissingPortName(); }},
                 {QStringLiteral("Не порт"), [&file] { return file; }}});
    form.move(0, 0);
    form.show();
    Shot(form, dir, "1-fresh");

    form.ChooseUpdateFile = [&file] { return std::optional<QString>(QString::fromStdString(file)); };
    form.SpeedButton1Click();
    form.ComboBox1->setCurrentIndex(form.ComboBox1->findText(QStringLiteral("Симулятор")));
    form.ColorButton4->SetChecked(true);
    form.ColorButton4Click();
    auto frames = [&] { return simulator.Device() ? simulator.Device()->Result().FramesReceived : 0; };
    if (!ProcessEventsUntil([&] { return frames() >= 256; }, 30000)) result = 1;
    Shot(form, dir, "2-data-flash");
    if (!ProcessEventsUntil([&] { return frames() >= 800; }, 30000)) result = 1;
    Shot(form, dir, "3-program-memory");
    // The debug log as it runs: the newest responses in view, the last-line fields beside them.
    form.PageControl1->setCurrentIndex(2);
    Shot(form, dir, "3a-debug-page-during-load");
    form.PageControl1->setCurrentIndex(0);
    if (!ProcessEventsUntil([&] { return !form.ColorButton4->Checked(); }, 30000)) result = 1;
    // The load counts only if the device got the whole image and the completion command.
    if (!simulator.Device() || !simulator.Device()->Result().Complete()) result = 1;
    Shot(form, dir, "4-complete");
    form.PageControl1->setCurrentIndex(2);
    Shot(form, dir, "5-debug-page");
    form.PageControl1->setCurrentIndex(1);
    Shot(form, dir, "6-data-flash-table");
    DesktopShots(form, dir, file);
  }
  runner->Shutdown();
  SetMainThreadRunner(nullptr);
  return result;
}
