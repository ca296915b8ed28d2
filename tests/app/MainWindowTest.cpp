// The real window offscreen, on every system: its fresh state, the file
// outcomes, the switch, and whole loads through the serial component into the
// simulated device. What only POSIX systems can stage is in
// MainWindowPosixTest.cpp.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Application.h"
#include "ColorButton.h"
#include "FrameEncoding.h"
#include "Fonts.h"
#include "Gauges.h"
#include "LedIndicator.h"
#include "LogPane.h"
#include "PortComboBox.h"
#include "PostedEvents.h"
#include "StatusTexts.h"
#include "WindowFixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> LinesOf(const TLogLines& lines) {
  std::vector<std::string> all;
  for (int i = 0; i < lines.Count(); ++i) all.push_back(lines.Line(i));
  return all;
}

// The device's answer to the last program block (page 119, block 3): the
// frame's bytes and its data sum, as the debug log shows a response.
std::string LastResponseLine(const TImage& image) {
  std::vector<std::uint8_t> frame =
      ConvertCommandText("22EF80" + ReadBlockText(image.StringGrid1, BlockFirstRow(119, 3)));
  frame.push_back(FrameDataSum(frame));
  return " - > " + FormatHexBytes(frame.data(), frame.size());
}

// Rows of the image that hold anything but the background.
std::vector<int> InkedRows(const QImage& image, QColor background) {
  std::vector<int> rows;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixelColor(x, y) != background) {
        rows.push_back(y);
        break;
      }
  return rows;
}

TEST_F(Window, FreshStart) {
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Загрузчик ПО в БК ВЕЛТ серии QV v.1.3"));
  EXPECT_EQ(form_->size(), QSize(805, 580));
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize()) << "fixed size";
  EXPECT_FALSE(form_->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form_->Edit1->text(), "");
  EXPECT_EQ(form_->Label2->text(), "");
  EXPECT_EQ(form_->Label2->palette().color(QPalette::Window), QColor(255, 255, 0));
  EXPECT_FALSE(form_->LedIndicator1->Checked());
  EXPECT_EQ(form_->LedIndicator1->Caption(), QStringLiteral("Отклик от БК"));
  EXPECT_EQ(form_->ComboBox1->currentText(), "COM1");
  for (int i = 0; i < 8; ++i) EXPECT_EQ(form_->ComboBox1->itemText(i), QString("COM%1").arg(i + 1));
  EXPECT_FALSE(form_->ColorButton4->Checked());
  EXPECT_EQ(form_->ColorButton4->TextOff(), QStringLiteral("Старт BootLoader"));
  EXPECT_EQ(form_->PageControl1->currentIndex(), 0);
  EXPECT_EQ(form_->PageControl1->tabText(0), QStringLiteral("Основная программа"));
  EXPECT_EQ(form_->PageControl1->tabText(1), QStringLiteral("Программа для загрузки в ДАТА-ФЛЭШ"));
  EXPECT_EQ(form_->PageControl1->tabText(2), QStringLiteral("Окно отладки"));
  for (QTableView* grid : {form_->StringGrid1, form_->StringGrid2}) {
    auto* model = grid->model();
    EXPECT_EQ(model->rowCount(), 4096) << "row 4097 is held but not shown";
    EXPECT_EQ(model->columnCount(), 16);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), "$xxx0");
    EXPECT_EQ(model->headerData(15, Qt::Horizontal).toString(), "$xxxF");
    EXPECT_EQ(model->headerData(0, Qt::Vertical).toString(), "$000y");
    EXPECT_EQ(model->headerData(4095, Qt::Vertical).toString(), "$FFFy");
    EXPECT_EQ(Cell(grid, 1, 1), "");
    EXPECT_EQ(grid->columnWidth(3), 44);
  }
  EXPECT_EQ(form_->ProgressBar1->Progress(), 0);
  EXPECT_EQ(form_->ProgressBar1->geometry(), QRect(0, 555, 805, 25));
  EXPECT_EQ(form_->Memo1->LineCount(), 0);
}

TEST_F(Window, FileOutcomes) {
  const std::string good = WriteSample(3);
  // Cancelled: nothing changes.
  form_->ChooseUpdateFile = [] { return std::optional<QString>(); };
  QTest::mouseClick(form_->SpeedButton1, Qt::LeftButton);
  EXPECT_EQ(form_->Edit1->text(), "");

  // Wrong extension: ignored; the name box still names the file the tables
  // hold, none yet.
  form_->Memo1->AppendLine("kept");
  fs::copy_file(good, dir_ / "image.txt");
  LoadFile((dir_ / "image.txt").string());
  EXPECT_EQ(form_->Edit1->text(), "");
  EXPECT_EQ(form_->Memo1->Text(), "kept");
  EXPECT_EQ(Cell(form_->StringGrid1, 1, 1), "");

  // A good file fills both tables, the tail rows included.
  LoadFile(good);
  const TImage sample = MakeSampleImage(3);
  EXPECT_EQ(form_->Memo1->Text(), "");
  EXPECT_EQ(Cell(form_->StringGrid1, 1, 1), QString::fromStdString(sample.StringGrid1.Cell(1, 1)));
  EXPECT_EQ(Cell(form_->StringGrid2, 16, 4096), QString::fromStdString(sample.StringGrid2.Cell(16, 4096)));
  EXPECT_EQ(form_->Image().StringGrid2.Cell(16, 4097), sample.StringGrid2.Cell(16, 4097));
  EXPECT_TRUE(form_->LedIndicator3->Checked());
  EXPECT_TRUE(readerMessages_.empty());
  EXPECT_EQ(form_->Edit1->text(), QString::fromStdString(good));

  // Wrong size: message box with the reason below its text, status text, the
  // previous image stays and the name box names its file again.
  std::ofstream((dir_ / "short.qv").string()) << "0011";
  LoadFile((dir_ / "short.qv").string());
  ASSERT_EQ(readerMessages_.size(), 1u);
  EXPECT_EQ(readerMessages_[0], QStringLiteral("Неверный файл, проверьте файл или обновите программу загрузки"));
  EXPECT_EQ(readerReasons_[0], QStringLiteral("В файле 4 байта, а в файле обновления ровно 278596 байт."));
  EXPECT_EQ(form_->Label2->text(), QStringLiteral("Проверьте файл или обновите программу загрузки"));
  EXPECT_EQ(Cell(form_->StringGrid1, 1, 1), QString::fromStdString(sample.StringGrid1.Cell(1, 1)));
  EXPECT_EQ(form_->Edit1->text(), QString::fromStdString(good));

  // A missing file: the error box with the system's text.
  LoadFile((dir_ / "gone.qv").string());
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], "File not found.");
  EXPECT_EQ(form_->Edit1->text(), QString::fromStdString(good));
}

// As a person does it: press and release on the switch, the real error box
// comes up, OK is clicked in it. The switch stays on ("BootLoader запущен")
// until the next click, which opens no box and returns the window to idle.
TEST_F(Window, RefusedPortLeavesTheSwitchOnUntilClickedOff) {
  SetErrorPresenter({});
  form_->Label2->setText("earlier");
  SelectPort(QStringLiteral("Нет порта"));
  std::vector<QString> boxes;
  bool onBehindTheBox = false;
  QTimer person;
  QObject::connect(&person, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    boxes.push_back(box->text());
    onBehindTheBox = form_->ColorButton4->Checked();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  person.start(10);
  auto click = [this] {
    QTest::mousePress(form_->ColorButton4, Qt::LeftButton, {}, QPoint(200, 16));
    QTest::mouseRelease(form_->ColorButton4, Qt::LeftButton, {}, QPoint(200, 16));
  };
  click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].toStdString(), "Specified device not found (" + MissingPortName() + ").");
  EXPECT_TRUE(onBehindTheBox);
  EXPECT_TRUE(form_->ColorButton4->Checked()) << "the switch stays on once the box is closed";
  EXPECT_FALSE(form_->ColorButton4->Pressed());
  EXPECT_FALSE(form_->SerialPort1.IsOpen());
  EXPECT_EQ(form_->Label2->text(), "earlier") << "the handler stopped at the failed opening";

  form_->ProgressBar1->SetProgress(7);
  click();
  EXPECT_EQ(boxes.size(), 1u) << "turning the switch off opens no port";
  EXPECT_FALSE(form_->ColorButton4->Checked());
  EXPECT_EQ(form_->Label2->text(), "");
  EXPECT_EQ(form_->ProgressBar1->Progress(), 0);
}

// A file named on the command line that is not there is shown in the error
// box, as when it is picked, and the window goes on with no file.
TEST_F(Window, MissingFileNamedAtStartIsShownInTheBox) {
  ShowLoaderWindow(*form_, QString::fromStdString((dir_ / "missing.qv").string()));
  ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }, 5000));
  EXPECT_EQ(errors_[0], "File not found.");
  EXPECT_EQ(form_->Edit1->text(), "");
}

// A device that hangs up mid-load ends the session: the port closed, the
// switch off, the gauge at 0 and the status line saying the link was lost.
// The next switch-on opens the port anew.
TEST_F(Window, HangUpMidLoadEndsTheSession) {
  TSimOptions options;
  options.Fault = TSimFault::HangUp;
  options.FaultFrame = 100;
  faulty_ = std::make_unique<TDemoSimulator>(options);
  LoadFile(WriteSample(14));
  SelectPort(QStringLiteral("Неисправный"));
  ClickSwitch();
  ASSERT_TRUE(form_->SerialPort1.IsOpen());
  ASSERT_TRUE(WaitFor([&] { return !form_->ColorButton4->Checked(); })) << "the session waits on a line that is gone";
  EXPECT_TRUE(faulty_->Device()->Result().HungUp);
  EXPECT_EQ(form_->Label2->text(), QString::fromUtf8(kLinkLost));
  EXPECT_FALSE(form_->SerialPort1.IsOpen());
  EXPECT_EQ(form_->ProgressBar1->Progress(), 0);
  EXPECT_GT(form_->Memo1->LineCount(), 0) << "the logs keep what came";
  EXPECT_TRUE(errors_.empty()) << errors_.front().toStdString();

  ClickSwitch();
  EXPECT_TRUE(form_->SerialPort1.IsOpen());
  EXPECT_TRUE(errors_.empty()) << errors_.front().toStdString();
  ClickSwitch();
}

TEST_F(Window, ErrorBoxText) {
  EXPECT_EQ(ErrorBoxText("File not found"), "File not found.");
  EXPECT_EQ(ErrorBoxText("Ends with a stop."), "Ends with a stop.");
  EXPECT_EQ(ErrorBoxText(QStringLiteral("Блок не отправлен")), QStringLiteral("Блок не отправлен."));
  EXPECT_EQ(ErrorBoxText("(Error 2, x)"), "(Error 2, x)") << "')' comes before '.'";
  EXPECT_EQ(ErrorBoxText(""), "");
}

// Two loads in one window; afterwards every pane holds exactly the lines the
// session wrote, in order: the debug log since the switch was last turned
// on, the last listing, and the newest traffic lines within the log's bound.
TEST_F(Window, WholeLoadsThroughTheSerialComponent) {
  // Close to the traffic log's bound, so that the loads carry it over.
  for (int i = 0; i < TForm1::TrafficLogLines + TForm1::TrafficLogTrim - 1500; ++i)
    form_->AppendTrafficLog(" - >  " + std::to_string(i));
  const TImage image = MakeSampleImage(5);
  LoadFile(WriteSample(5));
  SelectPort(QStringLiteral("Симулятор"));
  ClickSwitch();
  EXPECT_TRUE(form_->ColorButton4->Checked());
  ExpectCompleteLoad(image);
  EXPECT_EQ(form_->Memo2.Count(), 600);

  // A second load in the same window.
  ClickSwitch();
  ExpectCompleteLoad(image);
  EXPECT_EQ(LinesOf(form_->Memo1->Lines()), form_->debugLog);
  EXPECT_EQ(form_->debugLog.front(), " - >  55") << "the greeting opens the log";
  EXPECT_EQ(form_->debugLog.back(), LastResponseLine(image));
  EXPECT_EQ(LinesOf(form_->Memo2), form_->listing);
  const std::vector<std::string> traffic = LinesOf(form_->Memo3);
  const std::vector<std::string>& written = form_->trafficLog;
  ASSERT_GT(written.size(), std::size_t{TForm1::TrafficLogLines + TForm1::TrafficLogTrim}) << "the bound was passed";
  EXPECT_GE(traffic.size(), std::size_t{TForm1::TrafficLogLines});
  EXPECT_LE(traffic.size(), std::size_t{TForm1::TrafficLogLines + TForm1::TrafficLogTrim});
  EXPECT_TRUE(std::equal(traffic.begin(), traffic.end(), written.end() - static_cast<std::ptrdiff_t>(traffic.size())))
      << "the newest lines, in order";
}

TEST_F(Window, SwitchOffMidLoadThenAFreshLoad) {
  LoadFile(WriteSample(6));
  StartLoad(100);
  ClickSwitch();
  EXPECT_FALSE(form_->SerialPort1.IsOpen());
  EXPECT_EQ(form_->Label2->text(), "");
  EXPECT_EQ(form_->ProgressBar1->Progress(), 0);
  EXPECT_GT(form_->Memo1->LineCount(), 0) << "the logs keep their texts";
  ClickSwitch();
  ExpectCompleteLoad(MakeSampleImage(6));
}

TEST_F(Window, FileLoadedMidLoadStopsTheLoad) {
  LoadFile(WriteSample(7));
  StartLoad(100);
  // A refused file changes nothing of the running load.
  std::ofstream((dir_ / "short.qv").string()) << "00";
  LoadFile((dir_ / "short.qv").string());
  EXPECT_TRUE(form_->ColorButton4->Checked());
  EXPECT_TRUE(form_->SerialPort1.IsOpen());
  const int before = simulator_.Device()->Result().FramesReceived;
  ASSERT_TRUE(WaitFor([&] { return simulator_.Device()->Result().FramesReceived > before + 50; }));

  LoadFile(WriteSample(8, "other.qv"));
  EXPECT_FALSE(form_->ColorButton4->Checked());
  EXPECT_FALSE(form_->SerialPort1.IsOpen());
  EXPECT_EQ(form_->ProgressBar1->Progress(), 0);
  EXPECT_NE(form_->Label2->text(), kLoaded);
  EXPECT_TRUE(form_->Label2->text().contains(QStringLiteral("остановлена")));
  EXPECT_FALSE(simulator_.Device()->Result().CompletionSeen);

  // The next load carries the new file only.
  ClickSwitch();
  ExpectCompleteLoad(MakeSampleImage(8));
}

TEST_F(Window, LoadGoesOnBehindAModalDialog) {
  LoadFile(WriteSample(9));
  SelectPort(QStringLiteral("Симулятор"));
  ClickSwitch();
  // The file dialog stays open (a nested event loop, as a modal dialog runs) until the load is over.
  form_->ChooseUpdateFile = [this]() -> std::optional<QString> {
    QEventLoop dialog;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (!form_->ColorButton4->Checked()) dialog.quit();
    });
    poll.start(1);
    QTimer::singleShot(20000, &dialog, &QEventLoop::quit);
    dialog.exec();
    return std::nullopt;
  };
  QTest::mouseClick(form_->SpeedButton1, Qt::LeftButton);
  ExpectCompleteLoad(MakeSampleImage(9));
}

// A file of the right size with a bad cell in a sent row, or with a line end
// out of place, is refused as a wrong size is: the box with the fault below
// its text, the status text, the logs cleared, the tables as they were and
// the name box naming the file they hold.
TEST_F(Window, ADamagedFileIsRefusedLikeAWrongSize) {
  const TImage sample = MakeSampleImage(10);
  LoadFile(WriteUpdateFile((dir_ / "good.qv").string(), sample));
  TImage badCell = sample;
  badCell.StringGrid2.SetCell(3, 17, "G0");
  std::string shifted = UpdateFileText(MakeSampleImage(11));
  shifted.insert(34 * 300 + 10, "\r\n");
  shifted.resize(UpdateFileSize);
  const std::vector<std::pair<std::string, QString>> damaged{
      {WriteUpdateFile((dir_ / "cell.qv").string(), badCell),
       QStringLiteral("Строка 4114 (дата-флешь), знак 5: «G» — не шестнадцатеричная цифра.")},
      {(dir_ / "shifted.qv").string(),
       QStringLiteral("Строка 301 (память программ), знак 11: строка короче 32 знаков.")}};
  std::ofstream(damaged[1].first, std::ios::binary) << shifted;
  for (const auto& [path, reason] : damaged) {
    readerMessages_.clear();
    readerReasons_.clear();
    form_->Memo1->AppendLine("earlier");
    form_->Label2->setText("");
    LoadFile(path);
    EXPECT_EQ(form_->Edit1->text(), QString::fromStdString((dir_ / "good.qv").string()));
    ASSERT_EQ(readerMessages_.size(), 1u) << path;
    EXPECT_EQ(readerMessages_[0], QStringLiteral("Неверный файл, проверьте файл или обновите программу загрузки"));
    EXPECT_EQ(readerReasons_[0], reason);
    EXPECT_EQ(form_->Label2->text(), QStringLiteral("Проверьте файл или обновите программу загрузки"));
    EXPECT_EQ(form_->Memo1->Text(), "");
    EXPECT_EQ(UpdateFileText(form_->Image()), UpdateFileText(sample)) << path << ": the tables keep the good file";
    EXPECT_EQ(Cell(form_->StringGrid2, 3, 17), QString::fromStdString(sample.StringGrid2.Cell(3, 17)));
    EXPECT_TRUE(errors_.empty());
  }
}

TEST_F(Window, CaptionIsExactlyTheWindowsOwn) {
  EXPECT_EQ(form_->windowTitle(), MainWindowCaption);
  // A display name set apart from the program's name is appended to every caption.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_NE(QCoreApplication::applicationName(), ApplicationTitle);
}

TEST_F(Window, EveryStatusTextFitsTheBandOrShowsInItsTooltip) {
  // The texts were fitted to the classic face (Windows has it) and hold in its
  // stand-in; in any other face the widths say nothing.
  const QString family = QFontInfo(form_->Label2->font()).family();
  if (family != QStringLiteral("MS Sans Serif") && family != StandInForMsSansSerif)
    GTEST_SKIP() << "the status band is drawn in " << family.toStdString() << ", neither MS Sans Serif nor "
                 << StandInForMsSansSerif.toStdString() << " (scripts/setup.sh installs fonts-liberation2)";
  const QFontMetrics metrics(form_->Label2->font());
  const int band = form_->Label2->contentsRect().width();
  const QString tooLong = QString::fromUtf8(kEmptyResponse);  // no face fits it in 433 px
  for (const QString& text : TForm1::StatusTexts()) {
    form_->SetStatus(text);
    EXPECT_EQ(form_->Label2->text().toStdString(), text.toStdString());
    const int width = metrics.horizontalAdvance(text);
    if (text == tooLong) {
      EXPECT_GT(width, band);
      EXPECT_EQ(form_->Label2->toolTip().toStdString(), text.toStdString()) << "the cut text in full";
    } else {
      EXPECT_LE(width, band) << text.toStdString() << " is " << width << " px";
      EXPECT_EQ(form_->Label2->toolTip().toStdString(), "") << text.toStdString();
    }
  }
}

TEST_F(Window, CtrlOOpensTheFileAndF9WorksTheSwitch) {
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  int asked = 0;
  form_->ChooseUpdateFile = [&] {
    ++asked;
    return std::optional<QString>();
  };
  QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(asked, 1);

  LoadFile(WriteSample(11));
  SelectPort(QStringLiteral("Симулятор"));
  QTest::keyClick(form_.get(), Qt::Key_F9);
  EXPECT_TRUE(form_->ColorButton4->Checked());
  EXPECT_TRUE(form_->SerialPort1.IsOpen());
  QTest::keyClick(form_.get(), Qt::Key_F9);
  EXPECT_FALSE(form_->ColorButton4->Checked());
  EXPECT_FALSE(form_->SerialPort1.IsOpen());
  EXPECT_EQ(form_->Label2->text(), "");
}

TEST_F(Window, FileNamedAtStartIsReadAsIfPicked) {
  const std::string good = WriteSample(12);
  const QString cwd = QDir::currentPath();
  QDir::setCurrent(QString::fromStdString(dir_.string()));
  form_->OpenUpdateFile("image.qv");
  QDir::setCurrent(cwd);
  EXPECT_EQ(form_->Edit1->text(), QString::fromStdString(good)) << "the full path, as the dialog gives it";
  EXPECT_EQ(Cell(form_->StringGrid1, 1, 1), QString::fromStdString(MakeSampleImage(12).StringGrid1.Cell(1, 1)));

  std::ofstream((dir_ / "short.qv").string()) << "00";
  form_->OpenUpdateFile(QString::fromStdString((dir_ / "short.qv").string()));
  ASSERT_EQ(readerMessages_.size(), 1u) << "the same refusal";
  EXPECT_EQ(form_->Label2->text(), QStringLiteral("Проверьте файл или обновите программу загрузки"));
}

TEST_F(Window, HeaderRowAsTallAsTheRows) {
  for (QTableView* grid : {form_->StringGrid1, form_->StringGrid2}) {
    EXPECT_EQ(grid->horizontalHeader()->height(), 24);
    EXPECT_EQ(grid->rowHeight(0), 24);
  }
}

// The debug page opened after a load: at column 0 (the " - > " prefixes in
// sight); scrolled to the end, the last response drawn in the last band with
// nothing below it; scrolled right to the end, the longest line's end inside
// the pane.
TEST_F(Window, DebugPageAfterALoadShowsTheLastResponse) {
  const TImage image = MakeSampleImage(13);
  LoadFile(WriteSample(13));
  SelectPort(QStringLiteral("Симулятор"));
  ClickSwitch();
  ExpectCompleteLoad(image);
  form_->PageControl1->setCurrentIndex(2);
  ASSERT_TRUE(DeliverPosted());  // the shown pane brought up to date
  TLogPane* pane = form_->Memo1;
  QScrollBar* across = pane->horizontalScrollBar();
  EXPECT_GT(across->maximum(), 0) << "lines wider than the pane";
  EXPECT_EQ(across->value(), 0);

  pane->verticalScrollBar()->setValue(0);
  pane->setFocus();
  QTest::keyClick(pane, Qt::Key_End, Qt::ControlModifier);
  const int last = pane->LineCount() - 1;
  ASSERT_EQ(pane->Lines().Line(last), LastResponseLine(image));
  EXPECT_EQ(form_->StaticText1->text().toStdString(), LastResponseLine(image));
  const QRect band = pane->LineRect(last);
  EXPECT_TRUE(pane->viewport()->rect().contains(band));
  const QColor paper = pane->palette().color(QPalette::Base);
  const std::vector<int> inked = InkedRows(pane->viewport()->grab().toImage(), paper);
  ASSERT_FALSE(inked.empty());
  EXPECT_GE(inked.back(), band.top()) << "the last line is drawn";
  EXPECT_LE(inked.back(), band.bottom()) << "and nothing below it";

  // The widest line at the top, scrolled right to the end.
  const QFontMetricsF metrics(pane->font());
  int widest = 0;
  for (int i = 0; i <= last; ++i)
    if (metrics.horizontalAdvance(pane->Lines().LineText(i)) >
        metrics.horizontalAdvance(pane->Lines().LineText(widest)))
      widest = i;
  pane->verticalScrollBar()->setValue(widest);
  across->setValue(across->maximum());
  const QImage line =
      pane->viewport()->grab().toImage().copy(pane->LineRect(widest)).transformed(QTransform().rotate(90));
  const std::vector<int> inkedColumns = InkedRows(line, paper);
  ASSERT_FALSE(inkedColumns.empty());
  EXPECT_LT(inkedColumns.back(), band.width() - 1) << "the end of the line is not cut off";
  EXPECT_GT(inkedColumns.back(), band.width() - 3 * pane->fontMetrics().averageCharWidth())
      << "and the pane does not scroll far beyond it";
}

}  // namespace
