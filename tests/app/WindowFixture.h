#pragma once
// The real window offscreen, shown for each test: its error boxes and file
// refusals recorded instead of shown, and three ports besides the system's own
// ("Симулятор" the simulated device, "Нет порта" a name no port has,
// "Неисправный" a device given faults by the test).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ColorButton.h"
#include "DemoSimulator.h"
#include "ErrorBox.h"
#include "EventLoopWait.h"
#include "Gauges.h"
#include "LedIndicator.h"
#include "MissingPort.h"
#include "PortComboBox.h"
#include "SampleImage.h"
#include "StaticText.h"
#include "Unit1.h"
#include "UpdateFile.h"

inline const QString kLoaded = QStringLiteral("Загрузка завершена");

// The window, recording what the session writes into its panes before the
// panes take it: what they must hold afterwards, line for line.
class RecordingForm : public TForm1 {
public:
  using TForm1::TForm1;
  std::vector<std::string> debugLog, listing, trafficLog;
  void ClearDebugLog() override {
    debugLog.clear();
    TForm1::ClearDebugLog();
  }
  void AppendDebugLog(const std::string& line) override {
    debugLog.push_back(line);
    TForm1::AppendDebugLog(line);
  }
  void SetCommandListing(std::vector<std::string> lines) override {
    listing = lines;
    TForm1::SetCommandListing(std::move(lines));
  }
  void AppendTrafficLog(const std::string& line) override {
    trafficLog.push_back(line);
    TForm1::AppendTrafficLog(line);
  }
};

class Window : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qvwindow-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir_);
    SetErrorPresenter([this](const QString& text, const QString& hint) {
      errors_.push_back(text);
      hints_.push_back(hint);
    });
    std::vector<TPortEntry> extra{{QStringLiteral("Симулятор"), [this] { return simulator_.StartDevice(); }},
                                  {QStringLiteral("Нет порта"), [] { return MissingPortName(); }},
                                  {QStringLiteral("Неисправный"), [this] { return faulty_->StartDevice(); }}};
    form_ = std::make_unique<RecordingForm>(std::move(extra));
    form_->ShowReaderMessage = [this](const QString& text, const QString& reason) {
      readerMessages_.push_back(text);
      readerReasons_.push_back(reason);
    };
    form_->show();
  }
  void TearDown() override {
    form_.reset();
    SetErrorPresenter({});
    std::filesystem::remove_all(dir_);
  }

  void LoadFile(const std::string& path) {
    form_->ChooseUpdateFile = [path] { return std::optional<QString>(QString::fromStdString(path)); };
    QTest::mouseClick(form_->SpeedButton1, Qt::LeftButton);
  }
  void ClickSwitch() { QTest::mouseClick(form_->ColorButton4, Qt::LeftButton, {}, QPoint(200, 16)); }
  void SelectPort(const QString& label) { form_->ComboBox1->setCurrentIndex(form_->ComboBox1->findText(label)); }
  QString Cell(QTableView* grid, int col, int row) { return grid->model()->index(row - 1, col - 1).data().toString(); }
  bool WaitFor(const std::function<bool()>& done, int ms = 20000) { return ProcessEventsUntil(done, ms); }

  // Starts a load into the simulated device and waits until `frames` frames have arrived.
  void StartLoad(int frames) {
    SelectPort(QStringLiteral("Симулятор"));
    ClickSwitch();
    ASSERT_TRUE(form_->SerialPort1.IsOpen());
    ASSERT_TRUE(WaitFor([&] { return simulator_.Device()->Result().FramesReceived >= frames; }));
  }
  void ExpectCompleteLoad(const TImage& image) {
    ASSERT_TRUE(WaitFor([&] { return !form_->ColorButton4->Checked(); }));
    ASSERT_TRUE(simulator_.Device()->WaitFinished(std::chrono::seconds(5)));
    const TSimResult result = simulator_.Device()->Result();
    EXPECT_TRUE(result.Complete()) << result.FirstMismatch;
    ASSERT_TRUE(result.Received);
    EXPECT_EQ(CompareSentRegions(image, *result.Received), "");
    EXPECT_EQ(form_->Label2->text(), kLoaded);
    EXPECT_EQ(form_->StaticText2->text(), QStringLiteral("99 33 CC"));
    EXPECT_EQ(form_->ProgressBar1->Progress(), 0);
    EXPECT_FALSE(form_->SerialPort1.IsOpen());
    EXPECT_TRUE(form_->LedIndicator1->Checked());
    EXPECT_TRUE(errors_.empty()) << errors_.front().toStdString();
  }
  std::string WriteSample(std::uint32_t seed, const char* name = "image.qv") {
    return WriteUpdateFile((dir_ / name).string(), MakeSampleImage(seed));
  }

  std::filesystem::path dir_;
  TDemoSimulator simulator_;
  std::unique_ptr<TDemoSimulator> faulty_;  // the device behind "Неисправный"
  std::unique_ptr<RecordingForm> form_;
  std::vector<QString> errors_, hints_, readerMessages_, readerReasons_;
};
