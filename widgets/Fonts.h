#pragma once
// Fonts given the classic way: a face name and a height in pixels.

#include <QFont>
#include <QString>

// A negative height is the character height in pixels (without the internal
// leading), which is Qt's pixel size. A positive height is the cell height
// (ascent plus descent); it is turned into a pixel size through the face's own
// ratio. A face missing on this system (such as "MS Sans Serif") falls back to
// the system's sans-serif face at the same size.
QFont MakeFont(const QString& face, int height, bool bold = false);
