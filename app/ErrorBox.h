#pragma once
// The application's error box, and the one guard every entry from Qt goes
// through so that no exception crosses the event loop.
#include <QString>
#include <exception>
#include <functional>

inline const QString ApplicationTitle = QStringLiteral("Загрузчик обновленного ПО в Велт-РНО");

// The message as the box shows it: "." is added when the last character's
// code is greater than that of ".".
QString ErrorBoxText(const QString& message);

// Shows the box (error icon, OK, the application title) with the message as
// its text and, when there is one, a hint below it saying what the user can
// do. Tests replace the presenter to see what would be shown.
void ShowErrorBox(const QString& message, const QString& hint = {});
using TErrorPresenter = std::function<void(const QString& text, const QString& hint)>;
void SetErrorPresenter(TErrorPresenter presenter);  // empty: the real box

// Runs `step`; an exception that escapes it is shown in the error box.
void Guarded(const std::function<void()>& step);
void ShowException(std::exception_ptr error);
