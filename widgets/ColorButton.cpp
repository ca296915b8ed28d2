#include "ColorButton.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <cstdlib>

// ---- settings objects ----

void TGradientSettings::SetColorFrom(TColor value) {
  if (value == colorFrom_) return;
  colorFrom_ = value;
  Changed();
}
void TGradientSettings::SetColorTo(TColor value) {
  if (value == colorTo_) return;
  colorTo_ = value;
  Changed();
}
void TGradientSettings::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  Changed();
}
void TGradientSettings::SetStyle(TGradientStyle value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}
void TGradientSettings::Assign(const TGradientSettings& other) {
  colorFrom_ = other.colorFrom_;
  colorTo_ = other.colorTo_;
  visible_ = other.visible_;
  style_ = other.style_;
  Changed();
}

void TButtonBevel::SetShadowColFrom(TColor value) {
  if (value == shadowColFrom_) return;
  shadowColFrom_ = value;
  Changed();
}
void TButtonBevel::SetShadowColTo(TColor value) {
  if (value == shadowColTo_) return;
  shadowColTo_ = value;
  Changed();
}
void TButtonBevel::SetHighlightColFrom(TColor value) {
  if (value == highlightColFrom_) return;
  highlightColFrom_ = value;
  Changed();
}
void TButtonBevel::SetHighlightColTo(TColor value) {
  if (value == highlightColTo_) return;
  highlightColTo_ = value;
  Changed();
}
void TButtonBevel::SetWidth(int value) {
  if (value == width_ || value < 0) return;
  width_ = value;
  Changed();
}
void TButtonBevel::Assign(const TButtonBevel& other) {
  shadowColFrom_ = other.shadowColFrom_;
  shadowColTo_ = other.shadowColTo_;
  highlightColFrom_ = other.highlightColFrom_;
  highlightColTo_ = other.highlightColTo_;
  width_ = other.width_;
  Changed();
}

// ---- colour ramps ----

TColor InterpolateColor(TColor from, TColor to, int n, int i) {
  const TColor a = ColorToRGB(from);
  const TColor b = ColorToRGB(to);
  if (a == b) return from;
  if (n == 0) n = 1;
  // nearbyint rounds halves to even in the default rounding mode.
  const auto channel = [n, i](int f, int t) {
    const double step = static_cast<double>(t - f) / n * i;
    return (f + static_cast<int>(std::nearbyint(step))) & 0xFF;
  };
  return RGB(channel(GetRValue(a), GetRValue(b)), channel(GetGValue(a), GetGValue(b)),
             channel(GetBValue(a), GetBValue(b)));
}

void DrawBevel(QPainter& painter, const TRect& rect, TColor face, bool fill, bool raised, const TButtonBevel& bevel) {
  if (fill && rect.Width() > 0 && rect.Height() > 0) painter.fillRect(rect.ToQRect(), ToQColor(face));
  const int n = bevel.Width();
  TRect r = rect;
  for (int i = 1; i <= n; ++i) {
    if (r.Width() <= 0 || r.Height() <= 0) break;
    TColor first;
    TColor second;
    if (raised) {
      first = InterpolateColor(bevel.HighlightColFrom(), bevel.HighlightColTo(), n, i);
      second = InterpolateColor(bevel.ShadowColFrom(), bevel.ShadowColTo(), n, i);
    } else {
      first = InterpolateColor(bevel.ShadowColTo(), bevel.ShadowColFrom(), n, i);
      second = InterpolateColor(bevel.HighlightColTo(), bevel.HighlightColFrom(), n, i);
    }
    const QColor c1 = ToQColor(first);
    const QColor c2 = ToQColor(second);
    // Top row and left column first; the right column and bottom row over
    // them, so that the top-right and bottom-left corners take the second.
    painter.fillRect(QRect(r.Left, r.Top, r.Width(), 1), c1);
    painter.fillRect(QRect(r.Left, r.Top, 1, r.Height()), c1);
    painter.fillRect(QRect(r.Right - 1, r.Top, 1, r.Height()), c2);
    painter.fillRect(QRect(r.Left, r.Bottom - 1, r.Width(), 1), c2);
    r = TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
  }
}

void DrawText3D(QPainter& painter, QPoint point, bool text3D, int anchor, const QString& text, TColor highlight,
                TColor shadow, TColor textColor) {
  painter.save();
  if (text3D) {
    painter.setPen(ToQColor(highlight));
    DrawAnchoredText(painter, point.x() + 1, point.y() + 1, anchor, text);
    painter.setPen(ToQColor(shadow));
    DrawAnchoredText(painter, point.x() - 1, point.y() - 1, anchor, text);
  }
  painter.setPen(ToQColor(textColor));
  DrawAnchoredText(painter, point.x(), point.y(), anchor, text);
  painter.restore();
}

// ---- gradients ----

namespace {

struct Ramp {
  int r1, g1, b1;
  int dr, dg, db;
  int K;  // steps: the largest channel difference

  Ramp(TColor from, TColor to) {
    const TColor a = ColorToRGB(from);
    const TColor b = ColorToRGB(to);
    r1 = GetRValue(a);
    g1 = GetGValue(a);
    b1 = GetBValue(a);
    dr = GetRValue(b) - r1;
    dg = GetGValue(b) - g1;
    db = GetBValue(b) - b1;
    K = std::max({std::abs(dr), std::abs(dg), std::abs(db)});
    if (K == 0) K = 1;
  }

  // The colour at step s of n, From at 0 and To at n.
  QRgb At(double s, double n) const {
    const double f = n <= 0 ? 1.0 : std::clamp(s / n, 0.0, 1.0);
    const auto ch = [f](int c, int d) { return std::clamp(static_cast<int>(std::lround(c + d * f)), 0, 255); };
    return qRgb(ch(r1, dr), ch(g1, dg), ch(b1, db));
  }
};

void FillRow(QImage& img, int y, QRgb c) {
  if (y < 0 || y >= img.height()) return;
  auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
  std::fill(line, line + img.width(), c);
}

void FillColumn(QImage& img, int x, QRgb c) {
  if (x < 0 || x >= img.width()) return;
  for (int y = 0; y < img.height(); ++y) reinterpret_cast<QRgb*>(img.scanLine(y))[x] = c;
}

// Bands of z lines, band a at From + a increments, truncated; lines left over
// at the end take the last band's colour.
void LinearBands(QImage& img, const Ramp& ramp, bool rows) {
  const int h = rows ? img.height() : img.width();
  const int K = std::min(ramp.K, h);
  int z = K > 0 ? h / K : 0;
  if (z <= 0) z = 1;
  int m = h / z;
  if (m == 0) m = 1;
  // The per-band increments are single precision, the sums are not: this
  // is what gives the exact levels (240, 234, 229, ... for 240 to 105 over 25).
  const float ir = static_cast<float>(static_cast<double>(ramp.dr) / m);
  const float ig = static_cast<float>(static_cast<double>(ramp.dg) / m);
  const float ib = static_cast<float>(static_cast<double>(ramp.db) / m);
  QRgb last = 0;
  for (int a = 0; a <= m; ++a) {
    const auto ch = [a](float inc, int c) {
      return std::clamp(static_cast<int>(std::trunc(a * static_cast<double>(inc) + c)), 0, 255);
    };
    last = qRgb(ch(ir, ramp.r1), ch(ig, ramp.g1), ch(ib, ramp.b1));
    for (int line = a * z; line < (a + 1) * z && line < h; ++line) {
      if (rows)
        FillRow(img, line, last);
      else
        FillColumn(img, line, last);
    }
  }
  for (int line = (m + 1) * z; line < h; ++line) {
    if (rows)
      FillRow(img, line, last);
    else
      FillColumn(img, line, last);
  }
}

// From on one line, ramping to To over span lines on both sides of it.
void MirroredLines(QImage& img, const Ramp& ramp, bool rows, int centre, int span) {
  const int h = rows ? img.height() : img.width();
  if (span < 1) span = 1;
  for (int line = 0; line < h; ++line) {
    const int d = std::min(std::abs(line - centre), span);
    const QRgb c = ramp.At(d, span);
    if (rows)
      FillRow(img, line, c);
    else
      FillColumn(img, line, c);
  }
}

void ConcentricEllipses(QImage& img, const Ramp& ramp, double factor, bool shifted) {
  const int w = img.width();
  const int h = img.height();
  img.fill(ramp.At(1, 1));
  QPainter p(&img);
  p.setPen(Qt::NoPen);
  double cx = w / 2.0;
  double cy = h / 2.0;
  if (shifted) {
    cx -= w / 4.0 - 1;
    cy -= h / 4.0 - 1;
  }
  const int K = ramp.K;
  const double sx = static_cast<double>(w) / K * factor;
  const double sy = static_cast<double>(h) / K * factor;
  for (int s = 0; s < K; ++s) {
    const int left = K - s;  // steps left to the centre
    p.setBrush(QColor(ramp.At(left, K)));
    p.drawEllipse(QPointF(cx, cy), sx * left, sy * left);
  }
}

void ConcentricRectangles(QImage& img, const Ramp& ramp) {
  const int w = img.width();
  const int h = img.height();
  const int K = ramp.K;
  const double cx = (w - 1) / 2.0;
  const double cy = (h - 1) / 2.0;
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < w; ++x) {
      // The ring a pixel lies on: its distance from the centre measured
      // in half-size steps of width/K/2 and height/K/2.
      const double fx = w > 1 ? std::abs(x - cx) / cx : 0.0;
      const double fy = h > 1 ? std::abs(y - cy) / cy : 0.0;
      const double ring = std::ceil(std::max(fx, fy) * K);
      line[x] = ramp.At(ring, K);
    }
  }
}

void ConcentricDiamonds(QImage& img, const Ramp& ramp, bool large) {
  const int w = img.width();
  const int h = img.height();
  const int side = std::max(w, h);
  const int outer = large ? side : side / 2;
  const int N = std::max(outer, ramp.K);
  const double cx = (w - 1) / 2.0;
  const double cy = (h - 1) / 2.0;
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < w; ++x) {
      const double d = std::abs(x - cx) + std::abs(y - cy);
      const double steps = outer > 0 ? std::ceil(d / outer * N) : 0.0;
      line[x] = ramp.At(std::min<double>(steps, N), N);
    }
  }
}

void Diagonal(QImage& img, const Ramp& ramp, bool fromRight) {
  const int w = img.width();
  const int h = img.height();
  const int n = std::max(1, w + h - 2);
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < w; ++x) {
      const int d = (fromRight ? (w - 1 - x) : x) + y;
      line[x] = ramp.At(d, n);
    }
  }
}

}  // namespace

QImage MakeGradient(int width, int height, TColor from, TGradientStyle style, TColor to) {
  QImage img(std::max(0, width), std::max(0, height), QImage::Format_RGB32);
  if (img.isNull()) return img;
  const TColor a = ColorToRGB(from);
  if (a == ColorToRGB(to)) {
    img.fill(qRgb(GetRValue(a), GetGValue(a), GetBValue(a)));
    return img;
  }
  const Ramp ramp(from, to);
  switch (style) {
    case gsHorizontal1: LinearBands(img, ramp, true); break;
    case gsHorizontal2: MirroredLines(img, ramp, true, height / 2, height / 2); break;
    case gsHorizontal3: MirroredLines(img, ramp, true, height / 3, static_cast<int>(std::lround(0.67 * height))); break;
    case gsVertical1: LinearBands(img, ramp, false); break;
    case gsVertical2: MirroredLines(img, ramp, false, width / 2, width / 2); break;
    case gsVertical3: MirroredLines(img, ramp, false, width / 3, static_cast<int>(std::lround(0.67 * width))); break;
    case gsElliptic1: ConcentricEllipses(img, ramp, 0.5, false); break;
    case gsElliptic2: ConcentricEllipses(img, ramp, 0.695, false); break;
    case gsElliptic3: ConcentricEllipses(img, ramp, 0.82, true); break;
    case gsRectangle: ConcentricRectangles(img, ramp); break;
    case gsDiamond1: ConcentricDiamonds(img, ramp, false); break;
    case gsDiamond2: ConcentricDiamonds(img, ramp, true); break;
    case gsTopLeft: Diagonal(img, ramp, false); break;
    case gsTopRight: Diagonal(img, ramp, true); break;
  }
  return img;
}

void DrawGradient(QPainter& painter, const TRect& rect, TColor from, TGradientStyle style, TColor to) {
  // A face with no rows or no columns (a button no larger than its bevel)
  // has nothing to show.
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  painter.drawImage(rect.Left, rect.Top, MakeGradient(rect.Width(), rect.Height(), from, style, to));
}

// ---- TColorButton ----

TColorButton::TColorButton(QWidget* owner)
    : TBinaryControl(owner), gradBtnFace_(new TGradientSettings), buttonBevel_(new TButtonBevel) {
  gradBtnFace_->setParent(this);
  buttonBevel_->setParent(this);
  gradBtnFace_->SetColorFrom(RGB(240, 240, 240));
  gradBtnFace_->SetColorTo(RGB(105, 105, 105));
  gradBtnFace_->SetStyle(gsHorizontal1);
  gradBtnFace_->SetVisible(true);
  buttonBevel_->SetWidth(4);
  gradBtnFace_->OnChange = [this](QObject*) { Redraw(); };
  buttonBevel_->OnChange = [this](QObject*) { Redraw(); };
  QFont bold = font();
  bold.setBold(true);
  setFont(bold);
  resize(65, 33);
  SetMode(mButton);
}

TColorButton::~TColorButton() {
  gradBtnFace_->OnChange = nullptr;
  buttonBevel_->OnChange = nullptr;
}

void TColorButton::SetGlyph(const QImage& value) {
  glyph_ = value.convertToFormat(QImage::Format_ARGB32);
  if (glyph_.height() == 0) {
    numGlyph_ = 1;
  } else {
    glyphTransparent_ = glyph_.pixel(0, glyph_.height() - 1);
  }
  DrawStatus();
}

void TColorButton::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Redraw();
}

void TColorButton::SetEnabled(bool value) {
  if (value == isEnabled()) return;
  setEnabled(value);
  DrawStatus();
}

bool TColorButton::ElementOn(TFlashOption flash, TCheckedOption checked) const {
  if (flashOptions_.Contains(flash) && Checked() && Flashing()) return flashPhase_;
  return checkedOptions_.Contains(checked) && Checked();
}

QString TColorButton::ShownText() const {
  if (ElementOn(foText, coText)) return textOn_;
  if (!textOff_.isEmpty()) return textOff_;
  return textOn_;
}

TColor TColorButton::ShownTextColor() const {
  if (!isEnabled()) return textColDisabled_;
  return ElementOn(foTextCol, coTextCol) ? textColOn_ : textColOff_;
}

TColor TColorButton::ShownFaceColor() const {
  if (!isEnabled()) return colorDisabled_;
  return ElementOn(foBtnCol, coBtnCol) ? colorOn_ : colorOff_;
}

bool TColorButton::ShowsSunken() const {
  if (checkedOptions_.Contains(coBevel)) return Checked() || Pressed();
  return Pressed();
}

int TColorButton::ShownGlyphFrame() const {
  if (numGlyph_ <= 1) return 0;
  if (!isEnabled()) return 1;
  if (ElementOn(foGlyph, coGlyph) && numGlyph_ >= 3) return 2;
  return 0;
}

TButtonLayout TColorButton::ComputeLayout() const {
  TButtonLayout l;
  const QFontMetrics metrics(font());
  l.tw = std::max(metrics.horizontalAdvance(textOn_), metrics.horizontalAdvance(textOff_));
  const bool noText = textOn_.isEmpty() && textOff_.isEmpty();
  l.th = noText ? 0 : static_cast<int>(std::nearbyint(0.85 * metrics.height()));
  l.gw = numGlyph_ > 0 ? glyph_.width() / numGlyph_ : 0;
  l.gh = l.gw > 0 ? glyph_.height() : 0;
  const int s = (l.gw >= 1 && l.tw >= 1) ? spacing_ : 0;
  if (posGlyph_ == pLeft || posGlyph_ == pRight) {
    l.W = l.gw + s + l.tw;
    l.H = std::max(l.gh, l.th);
  } else {
    l.W = std::max(l.gw, l.tw);
    l.H = l.gh + s + l.th;
  }
  const int w = width();
  const int h = height();
  l.x = posHorizontal_ == phLeft ? l.W / 2 : posHorizontal_ == phRight ? w - l.W / 2 : w / 2;
  l.y = posVertical_ == pvTop ? l.H / 2 : posVertical_ == pvBottom ? h - l.H / 2 : h / 2;
  switch (posGlyph_) {
    case pLeft:
      l.gx = l.x - l.W / 2;
      l.gy = l.y - l.gh / 2;
      l.textPoint = QPoint(l.gx + l.gw + s, l.y);
      l.textAnchor = 3;
      break;
    case pRight:
      l.gx = l.x + l.W / 2 - l.gw;
      l.gy = l.y - l.gh / 2;
      l.textPoint = QPoint(l.gx - s, l.y);
      l.textAnchor = 5;
      break;
    case pTop:
      l.gx = l.x - l.gw / 2;
      l.gy = l.y - l.H / 2;
      l.textPoint = QPoint(l.x, l.gy + l.gh + s);
      l.textAnchor = 1;
      break;
    case pBottom:
      l.gx = l.x - l.gw / 2;
      l.gy = l.y + l.H / 2 - l.gh;
      l.textPoint = QPoint(l.x, l.gy - s);
      l.textAnchor = 7;
      break;
  }
  int dx = offsetX_;
  int dy = offsetY_;
  if (Pressed() || (Checked() && checkedOptions_.Contains(coBevel))) {
    dx += offsetDown_;
    dy += offsetDown_;
  }
  l.gx += dx;
  l.gy += dy;
  l.textPoint += QPoint(dx, dy);
  return l;
}

void TColorButton::BuildBackground() {
  // What lies under the button shows through the transparent pixels: Qt
  // paints the parent before a widget that is not opaque.
  background_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
  background_.fill(Qt::transparent);
  if (transparent_ || !gradBtnFace_->Visible()) return;
  QPainter p(&background_);
  const int n = buttonBevel_->Width();
  const TRect face{n, n, width() - n, height() - n};
  DrawGradient(p, face, gradBtnFace_->ColorFrom(), gradBtnFace_->Style(), gradBtnFace_->ColorTo());
}

void TColorButton::ComposeOverlay() {
  if (background_.size() != size()) BuildBackground();
  screen_ = background_.copy();
  if (screen_.isNull()) return;
  QPainter p(&screen_);
  p.setRenderHint(QPainter::Antialiasing, false);
  const TRect client{0, 0, width(), height()};
  const TColor face = ShownFaceColor();
  const bool bevelShown = (beveled_ && !flat_) || (flat_ && mouseOver_);
  const bool solidFace = !(transparent_ || gradBtnFace_->Visible());
  if (bevelShown) {
    DrawBevel(p, client, face, solidFace, !ShowsSunken(), *buttonBevel_);
  } else if (solidFace) {
    p.fillRect(client.ToQRect(), ToQColor(face));
  }
  p.setFont(font());
  const TButtonLayout l = ComputeLayout();
  const QString text = ShownText();
  if (!text.isEmpty())
    DrawText3D(p, l.textPoint, text3D_, l.textAnchor, text, buttonBevel_->HighlightColTo(), buttonBevel_->ShadowColTo(),
               ShownTextColor());
  if (l.gw > 0) {
    QImage frame = glyph_.copy(ShownGlyphFrame() * l.gw, 0, l.gw, glyph_.height());
    // The glyph's transparent colour is left out.
    for (int y = 0; y < frame.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
      for (int x = 0; x < frame.width(); ++x)
        if ((line[x] | 0xFF000000u) == (glyphTransparent_ | 0xFF000000u)) line[x] = 0;
    }
    p.drawImage(l.gx, l.gy, frame);
  }
}

void TColorButton::Redraw() { update(); }

void TColorButton::DrawStatus() {
  if (!isVisible()) return;
  // Only the overlay is recomposed, on the cached background; it reaches
  // the screen in one piece, so nothing flickers.
  ComposeOverlay();
  overlayOnly_ = true;
  repaint();
  overlayOnly_ = false;
}

void TColorButton::DrawFlashPhase(bool phase) {
  flashPhase_ = phase;
  DrawStatus();
}

void TColorButton::paintEvent(QPaintEvent*) {
  if (!overlayOnly_ || background_.size() != size() || screen_.size() != size()) {
    BuildBackground();
    ComposeOverlay();
  }
  QPainter p(this);
  p.drawImage(0, 0, screen_);
}

void TColorButton::enterEvent(QEnterEvent* event) {
  TBinaryControl::enterEvent(event);
  if (flat_ && !mouseOver_ && isEnabled() && QWidget::mouseGrabber() == nullptr) {
    mouseOver_ = true;
    DrawStatus();
  }
}

void TColorButton::leaveEvent(QEvent* event) {
  TBinaryControl::leaveEvent(event);
  if (flat_ && mouseOver_ && isEnabled()) {
    mouseOver_ = false;
    DrawStatus();
  }
}

void TColorButton::showEvent(QShowEvent* event) {
  TBinaryControl::showEvent(event);
  update();
}

void TColorButton::hideEvent(QHideEvent* event) {
  TBinaryControl::hideEvent(event);
  update();
}
