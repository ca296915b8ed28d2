#include "Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace {

// Faces with metrics close to the classic ones, for systems that lack them:
// the window's texts were fitted to the classic widths.
QString StandIn(const QString& face) {
  if (face.compare(QStringLiteral("MS Sans Serif"), Qt::CaseInsensitive) == 0) return StandInForMsSansSerif;
  return {};
}

}  // namespace

QFont MakeFont(const QString& face, int height, bool bold) {
  QFont font;
  QStringList families{face};
  if (const QString standIn = StandIn(face); !standIn.isEmpty()) families << standIn;
  families << QStringLiteral("sans-serif");
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setBold(bold);
  if (height < 0) {
    font.setPixelSize(-height);
  } else if (height > 0) {
    // Measure the face at a large size and scale: cell height / pixel size.
    QFont probe = font;
    probe.setPixelSize(100);
    const int cell = std::max(1, QFontMetrics(probe).height());
    font.setPixelSize(std::max(1, height * 100 / cell));
  }
  return font;
}
