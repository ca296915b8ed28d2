#pragma once
// The main window: every control the user sees, the two image tables, the
// panes the session writes, the serial port and the four handlers.
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BootSession.h"
#include "ImageTable.h"
#include "LogLines.h"
#include "PortList.h"
#include "SerialPort.h"
#include "SerialSessionPort.h"
#include "SessionLinks.h"

class QLabel;
class QLineEdit;
class QTabWidget;
class QTableView;
class QToolButton;
class TColorButton;
class TGauge;
class TImageTableModel;
class TLedIndicator;
class TLogPane;
class TPortComboBox;

inline const QString MainWindowCaption = QStringLiteral("Загрузчик ПО в БК ВЕЛТ серии QV v.1.3");

// A port entry beyond COM1..COM8: its label in the list and how to get the
// device to open when the switch is turned on with it selected.
struct TPortEntry {
  QString label;
  std::function<std::string()> resolve;
};

class TForm1 : public QWidget, public ISessionPanes {
public:
  // `extraPorts` are appended after COM1..COM8 and the detected adapters.
  explicit TForm1(std::vector<TPortEntry> extraPorts = {}, QWidget* parent = nullptr);
  ~TForm1() override;

  // The four handlers.
  void FormCreate();
  void SpeedButton1Click();
  void ColorButton4Click();
  void SerialPort1RxChar(int count);
  // The port's line errors; a hang-up (CE_IOE) ends the session.
  void SerialPort1Error(int errors);

  // The reader's steps after the dialog, also for a file named on the
  // command line. Errors are shown in the error box, not thrown. Unless the
  // file is read, the name box goes back to the file the tables hold.
  void OpenUpdateFile(const QString& path);

  // Replaceable for tests: the open-file dialog (empty result: cancelled) and
  // the reader's plain message box, its text and below it the reason.
  std::function<std::optional<QString>()> ChooseUpdateFile;
  std::function<void(const QString& text, const QString& reason)> ShowReaderMessage;
  // Where the open-file dialog starts; empty: the working folder.
  QString DialogFolder;
  // Where the port list and the port errors' hints look for devices.
  TPortRoots PortRoots;

  // Every text the status line can show.
  static std::vector<QString> StatusTexts();
  // The status line: the text, and as its tooltip when it is wider than the band.
  void SetStatus(const QString& text);
  // Reads the ports again, keeping the chosen one while it is there; the
  // list does this each time it is opened.
  void RefreshPortList();
  // F9: what a click on the switch does.
  void ClickSwitch();

  // Controls, named as the window has always named them.
  QLabel* Label1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QLabel* Label2 = nullptr;
  TLedIndicator* LedIndicator3 = nullptr;
  TLedIndicator* LedIndicator1 = nullptr;
  TPortComboBox* ComboBox1 = nullptr;
  TColorButton* ColorButton4 = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QTableView* StringGrid1 = nullptr;
  QTableView* StringGrid2 = nullptr;
  TLogPane* Memo1 = nullptr;
  // Never shown (they lie right of the window and are hidden): their lines
  // alone, which nothing lays out.
  TLogLines Memo2;
  TLogLines Memo3;
  QLineEdit* Edit2 = nullptr;
  QLabel* StaticText1 = nullptr;
  QLabel* StaticText2 = nullptr;
  TGauge* ProgressBar1 = nullptr;
  TSerialPort SerialPort1;

  const TImage& Image() const { return image_; }
  const TBootSession& Session() const { return *session_; }

  // Raw traffic lines kept: a whole load adds about 1,115, so this holds the
  // last five or so while memory and the cost of a line stay flat.
  static constexpr int TrafficLogLines = 6000;
  static constexpr int TrafficLogTrim = 1000;

  // The session's panes over the controls.
  std::string SelectedPortName() const override;
  void SetStatusText(const std::string& text) override;
  void ClearDebugLog() override;
  void AppendDebugLog(const std::string& line) override;
  void SetCommandListing(std::vector<std::string> lines) override;
  int CommandListingLineCount() const override;
  void AppendTrafficLog(const std::string& line) override;
  void SetLastResponse(const std::string& text) override;
  void SetLastCommand(const std::string& text) override;
  void SetGaugeMax(int value) override;
  void SetGaugeProgress(int value) override;
  int GaugeProgress() const override;
  void SetResponseLamp(bool on) override;
  bool SwitchChecked() const override;
  void SetSwitchChecked(bool on) override;

private:
  void CreateControls();
  void CreateTables();
  void CreateDebugPage();
  void CreateShortcuts();
  void StopLoadForNewFile();
  void RefuseFile(const QString& reason);
  std::optional<QString> RunOpenDialog();
  void GuardedSwitchStep();

  TImage image_;
  QString loadedFile_;  // the file whose image the tables hold; empty: none
  TImageTableModel* model1_ = nullptr;
  TImageTableModel* model2_ = nullptr;
  std::vector<TPortEntry> extraPorts_;
  TSerialSessionPort portLink_{SerialPort1};
  std::unique_ptr<TBootSession> session_;
};
