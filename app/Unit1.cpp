#include "Unit1.h"

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "ColorButton.h"
#include "Colors.h"
#include "ErrorBox.h"
#include "FileRefusal.h"
#include "Fonts.h"
#include "Gauges.h"
#include "ImageTableModel.h"
#include "LedIndicator.h"
#include "LoaderSettings.h"
#include "LoaderSwitch.h"
#include "LogPane.h"
#include "PaintPacer.h"
#include "PortComboBox.h"
#include "PortHint.h"
#include "PortProblem.h"
#include "StaticText.h"
#include "StatusTexts.h"
#include "UpdateFile.h"
#include "WindowSystem.h"

namespace {

constexpr int kClientWidth = 805;
constexpr int kClientHeight = 580;
// Short enough for the status band in the classic face's stand-in.
const QString kStoppedForNewFile = QStringLiteral("Загрузка остановлена: выбран новый файл");
// Item data of the port list: the port's name (or an extra entry's label),
// and for extra entries their index.
constexpr int kPortKeyRole = Qt::UserRole;
constexpr int kExtraPortRole = Qt::UserRole + 1;

QLabel* MakeStaticText(QWidget* parent, int top) {
  auto* text = new TStaticText(parent);
  text->setGeometry(0, top, 785, 33);
  text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return text;
}

void SetBackground(QWidget* widget, TColor color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, ToQColor(color));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

void SetTextColor(QWidget* widget, TColor color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, ToQColor(color));
  widget->setPalette(palette);
}

void ConfigureLed(TLedIndicator* led, const QString& caption, int x, int y, int w, int h) {
  led->setGeometry(x, y, w, h);
  led->SetCaption(caption);
  led->SetLED_Position(lpLeft);
  led->SetSpacing(5);
  led->SetChecked(false);
  led->SetFlashing(false);
  led->SetFrequency(ff1Hz);
  led->SetStatusInt(0);
  led->SetStatusBit(0);
  led->SetGroupIndex(0);
  led->SetMode(mIndicator);
}

}  // namespace

TForm1::TForm1(std::vector<TPortEntry> extraPorts, QWidget* parent)
    : QWidget(parent), extraPorts_(std::move(extraPorts)) {
  setWindowTitle(MainWindowCaption);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(MakeFont("MS Sans Serif", -11));
  SetBackground(this, clBtnFace);

  ApplyStoredLoaderSettings(SerialPort1);
  SerialPort1.OnRxChar = [this](TCustomSerialPort*, int count) { SerialPort1RxChar(count); };
  SerialPort1.OnError = [this](TCustomSerialPort*, int errors) { SerialPort1Error(errors); };
  session_ = std::make_unique<TBootSession>(image_, portLink_, static_cast<ISessionPanes&>(*this));

  CreateControls();
  CreateShortcuts();
  new TPaintPacer(this);
  RefreshPortList();
  ComboBox1->setCurrentIndex(0);
  FormCreate();
}

TForm1::~TForm1() {
  // The port's threads must not reach the panes once the window goes away.
  SerialPort1.OnRxChar = nullptr;
  SerialPort1.OnError = nullptr;
  SerialPort1.Close();
  // The views go before the image they show.
  delete PageControl1;
}

void TForm1::CreateControls() {
  Label1 = new QLabel(QStringLiteral("Файл для загрузки:"), this);
  Label1->move(8, 8);
  Label1->adjustSize();  // the label fits its caption in whatever face stands in for the original

  Edit1 = new QLineEdit(this);
  Edit1->setGeometry(8, 32, 305, 21);

  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setGeometry(312, 32, 33, 25);
  SpeedButton1->setText(QStringLiteral("..."));
  SpeedButton1->setToolTip(QStringLiteral("Открыть файл"));
  SpeedButton1->setFocusPolicy(Qt::NoFocus);
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton1Click(); }); });

  Label2 = new QLabel(this);
  Label2->setGeometry(360, 32, 433, 33);
  Label2->setFont(MakeFont("MS Sans Serif", -16, true));
  Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetBackground(Label2, clYellow);
  SetTextColor(Label2, clRed);

  LedIndicator3 = new TLedIndicator(this, QStringLiteral("LedIndicator3"));
  ConfigureLed(LedIndicator3, QStringLiteral("LedIndicator3"), 440, 16, 65, 17);
  LedIndicator3->hide();
  LedIndicator1 = new TLedIndicator(this, QStringLiteral("LedIndicator1"));
  ConfigureLed(LedIndicator1, QStringLiteral("Отклик от БК"), 8, 72, 113, 25);

  ComboBox1 = new TPortComboBox(this);
  ComboBox1->setGeometry(216, 72, 129, 22);
  ComboBox1->BeforePopup = [this] { RefreshPortList(); };

  ColorButton4 = new TColorButton(this);
  ConfigureLoaderSwitch(ColorButton4);
  ColorButton4->OnClick = [this](QObject*) { GuardedSwitchStep(); };

  PageControl1 = new QTabWidget(this);
  PageControl1->setGeometry(8, 112, 793, 441);
  CreateTables();
  CreateDebugPage();
  PageControl1->setCurrentIndex(0);

  Edit2 = new QLineEdit(this);
  Edit2->setGeometry(16, 296, 761, 21);
  Edit2->hide();

  ProgressBar1 = new TGauge(this);
  ProgressBar1->setGeometry(0, kClientHeight - 25, kClientWidth, 25);
  ProgressBar1->SetProgress(0);

  setTabOrder(Edit1, ComboBox1);
  setTabOrder(ComboBox1, Edit2);
  setTabOrder(Edit2, PageControl1);
}

void TForm1::CreateTables() {
  model1_ = new TImageTableModel(image_.StringGrid1, this);
  model2_ = new TImageTableModel(image_.StringGrid2, this);
  const std::pair<QTableView**, TImageTableModel*> grids[] = {{&StringGrid1, model1_}, {&StringGrid2, model2_}};
  const QString captions[] = {QStringLiteral("Основная программа"),
                              QStringLiteral("Программа для загрузки в ДАТА-ФЛЭШ")};
  for (int i = 0; i < 2; ++i) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QTableView(page);
    grid->setModel(grids[i].second);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setWordWrap(false);
    grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setDefaultSectionSize(44);
    grid->horizontalHeader()->setMinimumSectionSize(10);
    grid->horizontalHeader()->setFixedHeight(24);  // as tall as the rows
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(24);
    grid->verticalHeader()->setFixedWidth(44);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(grid);
    PageControl1->addTab(page, captions[i]);
    *grids[i].first = grid;
  }
}

void TForm1::CreateDebugPage() {
  auto* page = new QWidget;
  Memo1 = new TLogPane(page);
  Memo1->setGeometry(0, 0, 785, 329);
  StaticText1 = MakeStaticText(page, 336);
  StaticText2 = MakeStaticText(page, 376);
  PageControl1->addTab(page, QStringLiteral("Окно отладки"));
}

void TForm1::CreateShortcuts() {
  auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
  connect(open, &QShortcut::activated, this, [this] { Guarded([this] { SpeedButton1Click(); }); });
  auto* toggle = new QShortcut(QKeySequence(Qt::Key_F9), this);
  connect(toggle, &QShortcut::activated, this, [this] { ClickSwitch(); });
}

void TForm1::ClickSwitch() {
  // The press and release a mouse click makes, so the switch toggles and
  // runs its handler exactly as it does for the mouse.
  const QPointF centre = QRectF(ColorButton4->rect()).center();
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent event(type, centre, ColorButton4->mapToGlobal(centre), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(ColorButton4, &event);
  }
}

void TForm1::RefreshPortList() {
  const QString chosen = ComboBox1->currentData(kPortKeyRole).toString();
  const QSignalBlocker quiet(ComboBox1);
  ComboBox1->clear();
  for (const TPortInfo& port : ListPorts(PortRoots)) {
    ComboBox1->addItem(QString::fromStdString(port.label), QString::fromStdString(port.name));
    if (const std::string detail = PortDetail(port); !detail.empty())
      ComboBox1->setItemData(ComboBox1->count() - 1, QString::fromStdString(detail), Qt::ToolTipRole);
  }
  for (std::size_t i = 0; i < extraPorts_.size(); ++i) {
    ComboBox1->addItem(extraPorts_[i].label, extraPorts_[i].label);
    ComboBox1->setItemData(ComboBox1->count() - 1, static_cast<int>(i), kExtraPortRole);
  }
  const int index = ComboBox1->findData(chosen, kPortKeyRole);
  ComboBox1->setCurrentIndex(index >= 0 ? index : 0);
}

std::vector<QString> TForm1::StatusTexts() {
  std::vector<QString> texts{QString::fromUtf8(kRefusedFileStatus), kStoppedForNewFile};
  for (const char* text : kSessionStatusTexts) texts.push_back(QString::fromUtf8(text));
  return texts;
}

void TForm1::SetStatus(const QString& text) {
  Label2->setText(text);
  const bool cut = QFontMetrics(Label2->font()).horizontalAdvance(text) > Label2->contentsRect().width();
  Label2->setToolTip(cut ? text : QString());
}

// ---- handlers ----

void TForm1::FormCreate() {
  image_.SetupHeaders();
  model1_->Reload();
  model2_->Reload();
  session_->FormCreate();
}

std::optional<QString> TForm1::RunOpenDialog() {
  QFileDialog dialog(this, QStringLiteral("Файл для загрузки"), DialogFolder);
  // Qt's own dialog speaks Russian in every locale; a desktop's native one
  // would follow the system's language.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(
      {QStringLiteral("Файлы обновления БК серии QV (*.qv *.QV *.Qv *.qV)"), QStringLiteral("Все файлы (*)")});
  dialog.setFileMode(QFileDialog::ExistingFile);
  // Qt gives the size, type and date columns the widths of English texts,
  // which cut the Russian ones: they take what their texts need, the name
  // the rest of a dialog wide enough for all four.
  if (auto* files = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    QHeaderView* header = files->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < header->count(); ++column)
      header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
  dialog.resize(std::max(dialog.width(), 760), std::max(dialog.height(), 480));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

void TForm1::SpeedButton1Click() {
  const std::optional<QString> chosen = ChooseUpdateFile ? ChooseUpdateFile() : RunOpenDialog();
  if (!chosen) return;
  OpenUpdateFile(*chosen);
}

void TForm1::OpenUpdateFile(const QString& path) {
  // The full path as the system writes it (backslashes on Windows).
  const QString chosen = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
  Edit1->setText(chosen);
  const std::string name = WindowSystem::CoreFileName(chosen);
  TUpdateFileFault fault;
  try {
    const TUpdateFileOutcome outcome = ReadUpdateFile(
        name, image_,
        [this] {
          ClearDebugLog();
          SetCommandListing({});
        },
        &fault);
    if (outcome == TUpdateFileOutcome::Read) {
      loadedFile_ = chosen;
      model1_->Reload();
      model2_->Reload();
      LedIndicator3->SetChecked(true);
      StopLoadForNewFile();
      return;
    }
    // A damaged file of the right size is refused exactly as a wrong size is.
    if (outcome == TUpdateFileOutcome::SizeRefused)
      RefuseFile(WrongSizeReason(static_cast<std::uintmax_t>(QFileInfo(chosen).size())));
    else if (outcome == TUpdateFileOutcome::ShapeRefused)
      RefuseFile(DamagedFileReason(fault));
  } catch (...) {
    ShowException(std::current_exception());
  }
  // The tables still hold the file loaded before, and the switch would load
  // that image: the name box must not name another file meanwhile.
  Edit1->setText(loadedFile_);
}

void TForm1::RefuseFile(const QString& reason) {
  const QString text = QString::fromUtf8(kRefusedFile);
  if (ShowReaderMessage) {
    ShowReaderMessage(text, reason);
  } else {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, text, QMessageBox::Ok, this);
    box.setInformativeText(reason);
    box.exec();
  }
  SetStatus(QString::fromUtf8(kRefusedFileStatus));
}

void TForm1::StopLoadForNewFile() {
  // A device must never end up with a mix of two images reported as loaded.
  if (!ColorButton4->Checked()) return;
  ColorButton4->SetChecked(false);
  session_->ColorButton4Click();
  SetStatus(kStoppedForNewFile);
}

void TForm1::ColorButton4Click() { session_->ColorButton4Click(); }

void TForm1::GuardedSwitchStep() {
  try {
    ColorButton4Click();
  } catch (const ESerialPortError& e) {
    const std::string name = SerialPort1.DeviceName();
    ShowErrorBox(QString::fromStdString(e.what()), PortHintText(name, DiagnosePortError(name, e.Code(), PortRoots)));
  } catch (...) {
    ShowException(std::current_exception());
  }
}

void TForm1::SerialPort1RxChar(int count) { session_->SerialPort1RxChar(count); }

void TForm1::SerialPort1Error(int errors) {
  // A hang-up ends the session; other line errors leave it to its checksums.
  // One reported after the session closed the port itself (a device gone
  // once it had its completion command) changes nothing.
  if ((static_cast<std::uint32_t>(errors) & CE_IOE) && SerialPort1.IsOpen()) session_->LineLost();
}

// ---- panes ----

std::string TForm1::SelectedPortName() const {
  const QVariant extra = ComboBox1->currentData(kExtraPortRole);
  if (extra.isValid()) {
    const TPortEntry& entry = extraPorts_.at(static_cast<std::size_t>(extra.toInt()));
    if (entry.resolve) return entry.resolve();
  }
  return ComboBox1->currentData(kPortKeyRole).toString().toStdString();
}

void TForm1::SetStatusText(const std::string& text) { SetStatus(QString::fromStdString(text)); }

void TForm1::ClearDebugLog() { Memo1->Clear(); }

void TForm1::AppendDebugLog(const std::string& line) { Memo1->AppendLine(line); }

void TForm1::SetCommandListing(std::vector<std::string> lines) { Memo2.Assign(std::move(lines)); }

int TForm1::CommandListingLineCount() const { return Memo2.Count(); }

void TForm1::AppendTrafficLog(const std::string& line) {
  Memo3.Append(line);
  // Dropping the oldest lines a thousand at a time costs far less per line
  // than dropping one line with every line added.
  if (Memo3.Count() > TrafficLogLines + TrafficLogTrim) Memo3.DropOldest(Memo3.Count() - TrafficLogLines);
}

void TForm1::SetLastResponse(const std::string& text) { StaticText1->setText(QString::fromStdString(text)); }

void TForm1::SetLastCommand(const std::string& text) { StaticText2->setText(QString::fromStdString(text)); }

void TForm1::SetGaugeMax(int value) { ProgressBar1->SetMaxValue(value); }

void TForm1::SetGaugeProgress(int value) { ProgressBar1->SetProgress(value); }

int TForm1::GaugeProgress() const { return ProgressBar1->Progress(); }

void TForm1::SetResponseLamp(bool on) { LedIndicator1->SetChecked(on); }

bool TForm1::SwitchChecked() const { return ColorButton4->Checked(); }

void TForm1::SetSwitchChecked(bool on) { ColorButton4->SetChecked(on); }
