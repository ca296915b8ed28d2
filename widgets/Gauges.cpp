#include "Gauges.h"

#include <QFontMetrics>
#include <QPainter>

#include <cmath>
#include <limits>
#include <numbers>

namespace {

std::int32_t Diff32(std::int32_t a, std::int32_t b) {
  // The difference as a 32-bit integer, wrapping as the original does.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::string RangeMessage(long long low, long long high) {
  return "Value must be between " + std::to_string(low) + " and " + std::to_string(high);
}

void XorInto(QImage& target, const QImage& source) {
  for (int y = 0; y < target.height(); ++y) {
    auto* t = reinterpret_cast<QRgb*>(target.scanLine(y));
    const auto* s = reinterpret_cast<const QRgb*>(source.constScanLine(y));
    for (int x = 0; x < target.width(); ++x) t[x] = (t[x] ^ s[x]) | 0xFF000000u;
  }
}

}  // namespace

void TBltBitmap::MakeLike(const QImage& templ) {
  static_cast<QImage&>(*this) = QImage(templ.size(), QImage::Format_RGB32);
  fill(ToQColor(clWindowFrame));
}

TGauge::TGauge(QWidget* owner) : QWidget(owner) {
  // The gauge paints every pixel itself.
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(100, 100);
}

void TGauge::Repaint() {
  if (isVisible()) repaint();
}

TColor TGauge::Color() const {
  if (parentColor_ && parentWidget() != nullptr)
    return FromQRgb(parentWidget()->palette().color(QPalette::Window).rgb());
  return color_;
}

void TGauge::SetColor(TColor value) {
  parentColor_ = false;
  if (value == color_) return;
  color_ = value;
  Repaint();
}

void TGauge::SetParentColor(bool value) {
  if (value == parentColor_) return;
  parentColor_ = value;
  Repaint();
}

void TGauge::SetBackColor(TColor value) {
  if (value == backColor_) return;
  backColor_ = value;
  Repaint();
}

void TGauge::SetBorderStyle(TBorderStyle value) {
  if (value == borderStyle_) return;
  borderStyle_ = value;
  Repaint();
}

void TGauge::SetForeColor(TColor value) {
  if (value == foreColor_) return;
  foreColor_ = value;
  Repaint();
}

void TGauge::SetKind(TGaugeKind value) {
  if (value == kind_) return;
  kind_ = value;
  Repaint();
}

void TGauge::SetShowText(bool value) {
  if (value == showText_) return;
  showText_ = value;
  Repaint();
}

void TGauge::SetMinValue(std::int32_t value) {
  if (value == minValue_) return;
  if (value > maxValue_ && !loading_)
    throw EInvalidOperation(
        RangeMessage(-std::numeric_limits<std::int32_t>::max(), static_cast<long long>(maxValue_) - 1));
  minValue_ = value;
  if (progress_ < value) progress_ = value;
  Repaint();
}

void TGauge::SetMaxValue(std::int32_t value) {
  if (value == maxValue_) return;
  if (value < minValue_ && !loading_)
    throw EInvalidOperation(
        RangeMessage(static_cast<long long>(minValue_) + 1, std::numeric_limits<std::int32_t>::max()));
  maxValue_ = value;
  if (progress_ > value) progress_ = value;
  Repaint();
}

void TGauge::SetProgress(std::int32_t value) {
  const int before = PercentComplete();
  if (value < minValue_)
    value = minValue_;
  else if (value > maxValue_)
    value = maxValue_;
  if (value == progress_) return;
  progress_ = value;
  // Steps that leave the whole percentage as it was are not drawn.
  if (PercentComplete() != before) Repaint();
}

void TGauge::AddProgress(std::int32_t value) {
  SetProgress(static_cast<std::int32_t>(static_cast<std::int64_t>(progress_) + value));
}

int TGauge::PercentComplete() const {
  if (maxValue_ == minValue_) return 0;
  const double done = static_cast<double>(Diff32(progress_, minValue_)) * 100.0;
  return static_cast<int>(std::trunc(done / Diff32(maxValue_, minValue_)));
}

void TGauge::DrawKind(QImage& picture, int L, int T, int R, int B) const {
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor back = ToQColor(backColor_);
  const QColor fore = ToQColor(foreColor_);
  const QRect inner(L, T, R - L, B - T);
  const int pct = PercentComplete();
  switch (kind_) {
    case gkText: p.fillRect(inner, back); break;
    case gkHorizontalBar: {
      p.fillRect(inner, back);
      const int w = R - L + 1;
      const int h = B - T + 1;
      int n = static_cast<int>(std::trunc(w * (pct * 0.01)));
      if (n > w) n = w;
      if (n >= 1) p.fillRect(QRect(QPoint(L, T), QPoint(n - 1, h - 1)).intersected(inner), fore);
      break;
    }
    case gkVerticalBar: {
      p.fillRect(inner, back);
      const int w = R - L + 1;
      const int h = B - T + 1;
      int n = static_cast<int>(std::trunc(h * (pct * 0.01)));
      if (n >= h) n = h - 1;
      if (n >= 1) p.fillRect(QRect(QPoint(L, h - n), QPoint(w - 1, h - 1)).intersected(inner), fore);
      break;
    }
    case gkPie: {
      p.fillRect(inner, ToQColor(Color()));
      // The dial's extent: one pixel more each way with the border.
      const int w2 = R - L + (borderStyle_ == bsSingle ? 1 : 0);
      const int h2 = B - T + (borderStyle_ == bsSingle ? 1 : 0);
      const QRect box(QPoint(L, T), QPoint(w2 - 1, h2 - 1));
      p.setPen(QPen(fore, 0));
      p.setBrush(back);
      p.drawEllipse(box);
      if (pct > 0) {
        p.setBrush(fore);
        // Grows clockwise from twelve o'clock.
        const int span = static_cast<int>(std::lround(pct * 3.6 * 16));
        p.drawPie(box, 90 * 16 - span, span);
      }
      break;
    }
    case gkNeedle: {
      p.fillRect(inner, ToQColor(Color()));
      // The dial's extent: one pixel more each way with the border.
      const int w2 = R - L + (borderStyle_ == bsSingle ? 1 : 0);
      const int h2 = B - T + (borderStyle_ == bsSingle ? 1 : 0);
      const QRect box(QPoint(L, T), QPoint(w2 - 1, 2 * h2 - 2));
      p.setPen(QPen(fore, 0));
      p.setBrush(back);
      p.drawPie(box, 0, 180 * 16);
      p.drawLine(L, B, L + w2, B);
      if (pct > 0) {
        const double a = std::numbers::pi * pct / 100.0;
        const int cx = width() / 2;
        const int x2 = static_cast<int>(std::lround(cx * (1 - std::cos(a))));
        const int y2 = static_cast<int>(std::lround((B - 1) * (1 - std::sin(a))));
        p.drawLine(cx, B - 1, x2, y2);
      }
      break;
    }
  }
}

QImage TGauge::Compose() const {
  QImage image(size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  int L = 0;
  int T = 0;
  int R = width();
  int B = height();
  if (borderStyle_ == bsSingle) {
    ++L;
    ++T;
    --R;
    --B;
  }
  TBltBitmap picture;
  picture.MakeLike(image);
  picture.fill(Qt::black);
  if (R > L && B > T) DrawKind(picture, L, T, R, B);
  XorInto(image, picture);
  if (showText_) {
    TBltBitmap text;
    text.MakeLike(image);
    text.fill(Qt::black);
    QPainter p(&text);
    // Unsmoothed glyphs: every text pixel inverts what lies under it,
    // no half-tones that would turn into odd colours.
    QFont f = font();
    f.setStyleStrategy(QFont::NoAntialias);
    p.setFont(f);
    p.setPen(Qt::white);
    const QString s = QString::number(PercentComplete()) + QLatin1Char('%');
    const QFontMetrics metrics(f);
    const int x = (R - L + 1 - metrics.horizontalAdvance(s)) / 2;
    const int y = (B - T + 1 - metrics.height()) / 2;
    p.setClipRect(QRect(L, T, R - L, B - T));
    p.drawText(QPoint(x, y + metrics.ascent()), s);
    p.end();
    XorInto(image, text);
  }
  return image;
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, Compose());
}
