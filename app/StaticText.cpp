#include "StaticText.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "CharAdvance.h"

namespace {

// The beginning of `text` that covers `width` pixels, with characters to
// spare for kerning at the cut; all of it when a character before the cut
// is one whose advance may not add up.
QString VisiblePart(const QString& text, const QFontMetricsF& metrics, int width) {
  qreal x = 0;
  qsizetype n = 0;
  for (; n < text.size() && x < width; ++n) {
    const QChar c = text[n];
    if (!AdvanceAddsUp(c.unicode())) return text;
    x += metrics.horizontalAdvance(c);
  }
  return text.left(n + 4 + n / 10);
}

}  // namespace

void TStaticText::paintEvent(QPaintEvent*) {
  // As the label paints plain text: frame, margin, the indent a framed label
  // takes, then the text clipped to what is left.
  QPainter painter(this);
  drawFrame(&painter);
  QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
  const Qt::LayoutDirection direction = text().isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
  const Qt::Alignment align = QStyle::visualAlignment(direction, alignment());
  int indentation = indent();
  if (indentation < 0 && frameWidth() > 0) indentation = fontMetrics().horizontalAdvance(u'x') / 2 - margin();
  if (indentation > 0) {
    if (align & Qt::AlignLeft) area.setLeft(area.left() + indentation);
    if (align & Qt::AlignRight) area.setRight(area.right() - indentation);
    if (align & Qt::AlignTop) area.setTop(area.top() + indentation);
    if (align & Qt::AlignBottom) area.setBottom(area.bottom() - indentation);
  }
  const int flags = int(align) | (direction == Qt::LeftToRight ? Qt::TextForceLeftToRight : Qt::TextForceRightToLeft);
  const QString shown =
      direction == Qt::LeftToRight ? VisiblePart(text(), QFontMetricsF(font()), area.width()) : text();
  style()->drawItemText(&painter, area, flags, palette(), isEnabled(), shown, foregroundRole());
}
