#include "ErrorBox.h"

#include <QApplication>
#include <QMessageBox>

#include "MainThreadRunner.h"

namespace {
TErrorPresenter& Presenter() {
  static TErrorPresenter presenter;
  return presenter;
}
}  // namespace

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
  return message;
}

void SetErrorPresenter(TErrorPresenter presenter) { Presenter() = std::move(presenter); }

void ShowErrorBox(const QString& message, const QString& hint) {
  const QString text = ErrorBoxText(message);
  if (Presenter()) {
    Presenter()(text, hint);
    return;
  }
  QMessageBox box(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok, QApplication::activeWindow());
  // The message stays as the component words it; the hint goes below it.
  box.setInformativeText(hint);
  box.exec();
}

void ShowException(std::exception_ptr error) { ShowErrorBox(QString::fromStdString(ExceptionMessage(error))); }

void Guarded(const std::function<void()>& step) {
  try {
    step();
  } catch (...) {
    ShowException(std::current_exception());
  }
}
