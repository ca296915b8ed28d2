// The real window offscreen, what only POSIX systems can stage: files that
// are no regular files or may not be read, and the port list and port hints
// over a fake /sys and /dev.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "Application.h"
#include "ColorButton.h"
#include "FakeDevices.h"
#include "PortComboBox.h"
#include "WindowFixture.h"

namespace fs = std::filesystem;

namespace {

// A file named on the command line that cannot be read is shown in the error
// box, as when it is picked, and the window goes on with no file: what is no
// regular file, and a file the user may not read.
TEST_F(Window, UnreadableFileNamedAtStartIsShownInTheBox) {
  const fs::path fifo = dir_ / "fifo.qv", folder = dir_ / "folder.qv", zero = dir_ / "zero.qv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(folder);
  fs::create_symlink("/dev/zero", zero);
  std::vector<std::pair<fs::path, QString>> cases{
      {fifo, "I/O error 29."}, {folder, "I/O error 21."}, {zero, "I/O error 19."}};
  if (::geteuid() != 0) {  // root reads any file
    const fs::path locked = WriteSample(15, "locked.qv");
    fs::permissions(locked, fs::perms::none);
    cases.emplace_back(locked, "File access denied.");
  }
  for (const auto& [path, text] : cases) {
    errors_.clear();
    ShowLoaderWindow(*form_, QString::fromStdString(path.string()));
    ASSERT_TRUE(WaitFor([&] { return !errors_.empty(); }, 5000)) << path;
    EXPECT_EQ(errors_[0], text) << path;
    EXPECT_EQ(form_->Edit1->text(), "") << path;
  }
}

TEST_F(Window, PortListIsReadAgainWhenOpened) {
  TFakeDevices fake;
  form_->PortRoots = fake.Roots();
  auto open = [&] {
    form_->ComboBox1->showPopup();
    form_->ComboBox1->hidePopup();
  };
  open();
  EXPECT_EQ(form_->ComboBox1->count(), 11) << "COM1..COM8 and the three extra ports";
  EXPECT_EQ(form_->ComboBox1->view()->sizeHintForRow(0), 16);
  SelectPort("COM3");

  fake.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI");
  open();
  const QString label = QStringLiteral("ttyUSB0 — FTDI FT232R USB UART (A50285BI)");
  ASSERT_EQ(form_->ComboBox1->itemText(8), label);
  EXPECT_EQ(form_->ComboBox1->itemText(9), QStringLiteral("Симулятор"));
  EXPECT_EQ(form_->ComboBox1->currentText(), "COM3") << "the choice stays while its port is there";

  SelectPort(label);
  EXPECT_EQ(form_->SelectedPortName(), fake.Dev("ttyUSB0")) << "the session opens the device file";
  open();
  EXPECT_EQ(form_->ComboBox1->currentText(), label);
  fake.Unplug("ttyUSB0");
  open();
  EXPECT_EQ(form_->ComboBox1->findText(label), -1);
  EXPECT_EQ(form_->ComboBox1->currentText(), "COM1") << "an unplugged choice falls back to the first port";
}

// The real box, not the test's presenter: the message as the component words
// it, the hint below it, the error icon, OK alone and the application title.
TEST_F(Window, PortErrorInTheRealBoxWithItsHint) {
  TFakeDevices fake;
  fake.AddUsbAdapter("ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI");
  form_->PortRoots = fake.Roots();
  SetErrorPresenter({});
  QString title, text, informative, okText;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    title = box->windowTitle();
    text = box->text();
    informative = box->informativeText();
    icon = box->icon();
    buttons = box->standardButtons();
    okText = box->button(QMessageBox::Ok)->text();
    box->accept();
  });
  SelectPort(QStringLiteral("Нет порта"));
  ClickSwitch();
  EXPECT_EQ(title, ApplicationTitle);
  EXPECT_EQ(text, "Specified device not found (/dev/qv-missing).");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_FALSE(okText.isEmpty());
  EXPECT_TRUE(informative.contains(QStringLiteral("Порт /dev/qv-missing на этом компьютере не найден")))
      << informative.toStdString();
  EXPECT_TRUE(informative.contains(QStringLiteral("ttyUSB0 — FTDI FT232R USB UART (A50285BI)")))
      << informative.toStdString();
}

}  // namespace
