#pragma once
// Fonts given the classic way: a face name and a height in pixels.

#include <QFont>
#include <QString>

// A negative height is the character height in pixels (without the internal
// leading), which is Qt's pixel size. A positive height is the cell height
// (ascent plus descent); it is turned into a pixel size through the face's own
// ratio. A face missing on this system falls back to a face of like metrics
// where one is known ("MS Sans Serif": Liberation Sans, close to its widths
// where DejaVu Sans is far wider), else to the system's sans-serif face, at the
// same size.
QFont MakeFont(const QString& face, int height, bool bold = false);

inline const QString StandInForMsSansSerif = QStringLiteral("Liberation Sans");
