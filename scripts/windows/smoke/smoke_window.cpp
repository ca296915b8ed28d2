// A small Qt Widgets window built for Windows.
//   smoke_window            shows the window until it is closed
//   smoke_window --quit-after MS
//   smoke_window --check [--platform NAME]
//                           renders the window, checks the pixels, Qt's Russian
//                           texts and (given NAME) the platform plugin in use,
//                           prints what it found, exits 0 when all is well
#include <QApplication>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

void Say(const QString& text) {
  std::fprintf(stderr, "smoke_window: %s\n", text.toUtf8().constData());
  std::fflush(stderr);
}

// Glyphs were drawn when there are fonts (without any, Qt draws a box for each
// character) and a label with text renders other pixels than the same label without.
bool DrawsText(const QString& text) {
  if (QFontDatabase::families().isEmpty()) return false;
  QLabel written(text);
  QLabel blank;
  written.resize(written.sizeHint());
  blank.resize(written.size());
  const QImage a = written.grab().toImage();
  const QImage b = blank.grab().toImage();
  return !a.isNull() && a.size() == b.size() && a != b;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  const bool check = args.contains(QStringLiteral("--check"));

  auto* translator = new QTranslator(&app);
  const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  const bool translated = translator->load(QStringLiteral("qtbase_ru"), translations);
  if (translated) QCoreApplication::installTranslator(translator);
  // A text of Qt's own that its Russian catalogue translates.
  const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");

  QWidget window;
  window.setWindowTitle(QStringLiteral("Проверка Qt под Windows"));
  auto* layout = new QVBoxLayout(&window);
  auto* label = new QLabel(
      QStringLiteral("Загрузчик: Qt %1 на платформе %2").arg(QString::fromLatin1(qVersion()), app.platformName()));
  layout->addWidget(label);
  layout->addWidget(new QLineEdit(QStringLiteral("образ.qv")));
  layout->addWidget(new QPushButton(cancel));
  window.resize(420, 140);
  window.show();

  Say(QStringLiteral("platform %1, %2 font families, the label's is \"%3\", Qt prefix %4")
          .arg(app.platformName())
          .arg(QFontDatabase::families().size())
          .arg(QFontInfo(label->font()).family(), QLibraryInfo::path(QLibraryInfo::PrefixPath)));
  Say(QStringLiteral("plugins %1").arg(QLibraryInfo::path(QLibraryInfo::PluginsPath)));
  Say(QStringLiteral("translations %1: qtbase_ru %2, \"Cancel\" reads \"%3\"")
          .arg(translations, translated ? QStringLiteral("loaded") : QStringLiteral("NOT FOUND"), cancel));

  if (check) {
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    const bool drawn = !image.isNull() && DrawsText(QStringLiteral("Загрузчик"));
    Say(QStringLiteral("rendered %1x%2, text drawn: %3")
            .arg(image.width())
            .arg(image.height())
            .arg(drawn ? QStringLiteral("yes") : QStringLiteral("no")));
    const int at = args.indexOf(QStringLiteral("--platform"));
    const bool platform = at < 0 || (at + 1 < args.size() && app.platformName() == args.at(at + 1));
    return drawn && platform && translated && cancel == QStringLiteral("Отмена") ? 0 : 1;
  }
  const int at = args.indexOf(QStringLiteral("--quit-after"));
  if (at >= 0 && at + 1 < args.size()) QTimer::singleShot(args.at(at + 1).toInt(), &app, &QApplication::quit);
  return app.exec();
}
