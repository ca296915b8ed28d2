#include "Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

QFont MakeFont(const QString& face, int height, bool bold) {
    QFont font;
    font.setFamilies(QStringList{face, QStringLiteral("sans-serif")});
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
