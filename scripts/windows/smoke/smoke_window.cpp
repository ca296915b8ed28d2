// A small Qt Widgets window built for Windows.
//   smoke_window            shows the window until it is closed
//   smoke_window --quit-after MS
//   smoke_window --check    renders the window, checks the pixels and Qt's Russian
//                           texts, prints what it found, exits 0 when all is well
#include <QApplication>
#include <QCoreApplication>
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

// Text drawn on a plain background leaves both dark and light pixels.
bool HasText(const QImage& image) {
  int dark = 0;
  int light = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const int gray = qGray(image.pixel(x, y));
      if (gray < 80) ++dark;
      if (gray > 200) ++light;
    }
  }
  return dark > 20 && light > 20;
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
  auto* label = new QLabel(QStringLiteral("Загрузчик: Qt %1 на платформе %2").arg(QString::fromLatin1(qVersion()), app.platformName()));
  layout->addWidget(label);
  layout->addWidget(new QLineEdit(QStringLiteral("образ.qv")));
  layout->addWidget(new QPushButton(cancel));
  window.resize(420, 140);
  window.show();

  Say(QStringLiteral("platform %1, font %2, Qt prefix %3").arg(app.platformName(), QFontInfo(label->font()).family(), QLibraryInfo::path(QLibraryInfo::PrefixPath)));
  Say(QStringLiteral("plugins %1").arg(QLibraryInfo::path(QLibraryInfo::PluginsPath)));
  Say(QStringLiteral("translations %1: qtbase_ru %2, \"Cancel\" reads \"%3\"").arg(translations, translated ? QStringLiteral("loaded") : QStringLiteral("NOT FOUND"), cancel));

  if (check) {
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage();
    const bool drawn = !image.isNull() && HasText(image);
    Say(QStringLiteral("rendered %1x%2, text drawn: %3").arg(image.width()).arg(image.height()).arg(drawn ? QStringLiteral("yes") : QStringLiteral("no")));
    return drawn && translated && cancel == QStringLiteral("Отмена") ? 0 : 1;
  }
  const int at = args.indexOf(QStringLiteral("--quit-after"));
  if (at >= 0 && at + 1 < args.size()) QTimer::singleShot(args.at(at + 1).toInt(), &app, &QApplication::quit);
  return app.exec();
}
