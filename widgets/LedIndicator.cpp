#include "LedIndicator.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

// ---- TLED ----

void TLED::SetShape(TLEDShape value) {
  if (value == shape_) return;
  shape_ = value;
  Changed();
}

void TLED::SetColorOn(TColor value) {
  if (value == colorOn_) return;
  colorOn_ = value;
  Changed();
}

void TLED::SetColorOff(TColor value) {
  if (value == colorOff_) return;
  colorOff_ = value;
  Changed();
}

void TLED::SetWidth(int value) {
  if (value == width_ || value < 4 || value > 30) return;
  width_ = value;
  Changed();
}

void TLED::SetHeight(int value) {
  if (value == height_ || value < 4 || value > 30) return;
  height_ = value;
  Changed();
}

void TLED::Assign(const TLED& other) {
  shape_ = other.shape_;
  colorOn_ = other.colorOn_;
  colorOff_ = other.colorOff_;
  width_ = other.width_;
  height_ = other.height_;
  Changed();
}

// ---- drawing helpers ----

QPoint AnchoredTextOrigin(int x, int y, int anchor, int textWidth, int textHeight) {
  const int column = anchor % 3;
  const int row = anchor / 3;
  const int dx = column == 0 ? 0 : column == 1 ? textWidth / 2 : textWidth;
  const int dy = row == 0 ? 0 : row == 1 ? textHeight / 2 : textHeight;
  return QPoint(x - dx, y - dy);
}

void DrawAnchoredText(QPainter& painter, int x, int y, int anchor, const QString& text) {
  const QFontMetrics metrics(painter.font());
  const QPoint origin = AnchoredTextOrigin(x, y, anchor, metrics.horizontalAdvance(text), metrics.height());
  painter.drawText(QPoint(origin.x(), origin.y() + metrics.ascent()), text);
}

void DrawLamp(QPainter& painter, const TRect& r, TLEDShape shape, TColor fill) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(QPen(ToQColor(clBtnShadow), 0));
  painter.setBrush(ToQColor(fill));
  const int w = r.Width();
  const int h = r.Height();
  // Outlines go through pixel centres: a shape spanning columns L..R-1 is
  // given as a rectangle one pixel smaller than (L, T)-(R, B).
  const QRect box(r.Left, r.Top, w - 1, h - 1);
  switch (shape) {
    case sRound: {
      painter.drawEllipse(box);
      const int inset = w / 5;
      const QRect arcBox(r.Left + inset, r.Top + inset, w - 2 * inset - 1, h - 2 * inset - 1);
      painter.setPen(QPen(ToQColor(clBtnHighlight), w / 8));
      painter.setBrush(Qt::NoBrush);
      // The upper-left quarter: from twelve o'clock counter-clockwise to nine.
      painter.drawArc(arcBox, 90 * 16, 90 * 16);
      break;
    }
    case sArrowLeft:
      painter.drawPolygon(
          QPolygon({QPoint(r.Left, r.Top + h / 2), QPoint(r.Right - 1, r.Top), QPoint(r.Right - 1, r.Bottom - 1)}));
      break;
    case sArrowRight:
      painter.drawPolygon(
          QPolygon({QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Top + h / 2), QPoint(r.Left, r.Bottom - 1)}));
      break;
    case sArrowUp:
      painter.drawPolygon(
          QPolygon({QPoint(r.Left + w / 2, r.Top), QPoint(r.Right - 1, r.Bottom - 1), QPoint(r.Left, r.Bottom - 1)}));
      break;
    case sArrowDown:
      painter.drawPolygon(
          QPolygon({QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Top), QPoint(r.Left + w / 2, r.Bottom - 1)}));
      break;
    case sRectangle: painter.drawRect(box); break;
  }
  painter.restore();
}

// ---- TLedIndicator ----

TLedIndicator::TLedIndicator(QWidget* owner, const QString& name)
    : TBinaryControl(owner), caption_(name), led_(new TLED) {
  setObjectName(name);
  led_->setParent(this);
  led_->OnChange = [this](QObject*) { Redraw(); };
  resize(73, 33);
}

TLedIndicator::~TLedIndicator() { led_->OnChange = nullptr; }

void TLedIndicator::SetCaption(const QString& value) {
  if (value == caption_) return;
  caption_ = value;
  Redraw();
}

void TLedIndicator::SetLED_Position(TLEDPos value) {
  if (value == position_) return;
  position_ = value;
  Redraw();
}

void TLedIndicator::SetSpacing(int value) {
  if (value == spacing_) return;
  spacing_ = value;
  Redraw();
}

void TLedIndicator::Redraw() {
  if (isVisible()) repaint();
}

void TLedIndicator::Layout(TRect& lamp, QPoint& captionAnchor, int& anchor) const {
  int w = led_->Width();
  int h = led_->Height();
  if (led_->Shape() == sRound) w = h = std::max(w, h);
  const int cx = width() / 2;
  const int cy = height() / 2;
  switch (position_) {
    case lpLeft:
      lamp = TRect{0, cy - h / 2, w, cy - h / 2 + h};
      captionAnchor = QPoint(lamp.Right + spacing_, cy);
      anchor = 3;
      break;
    case lpRight:
      lamp = TRect{width() - w, cy - h / 2, width(), cy - h / 2 + h};
      captionAnchor = QPoint(lamp.Left - spacing_, cy);
      anchor = 5;
      break;
    case lpTop:
      lamp = TRect{cx - w / 2, 0, cx - w / 2 + w, h};
      captionAnchor = QPoint(cx, lamp.Bottom + spacing_);
      anchor = 1;
      break;
    case lpBottom:
      lamp = TRect{cx - w / 2, height() - h, cx - w / 2 + w, height()};
      captionAnchor = QPoint(cx, lamp.Top - spacing_);
      anchor = 7;
      break;
  }
}

void TLedIndicator::DrawLampOnly(bool on) {
  if (!isVisible() || !painted_) return;
  // Only the lamp is repainted, at once; the caption stays as it is.
  lampOn_ = on;
  lampOnly_ = true;
  repaint(led_->LampRect().ToQRect());
  lampOnly_ = false;
}

void TLedIndicator::DrawStatus() { DrawLampOnly(Checked()); }

void TLedIndicator::DrawFlashPhase(bool phase) { DrawLampOnly(phase); }

void TLedIndicator::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const TRect lastLamp = led_->LampRect();
  if (lampOnly_ && painted_ && lastLamp.ToQRect().contains(event->rect())) {
    DrawLamp(painter, lastLamp, led_->Shape(), lampOn_ ? led_->ColorOn() : led_->ColorOff());
    return;
  }
  painter.setFont(font());
  TRect lamp;
  QPoint captionAnchor;
  int anchor = 3;
  Layout(lamp, captionAnchor, anchor);
  led_->SetLampRect(lamp);
  painter.setPen(palette().color(QPalette::WindowText));
  DrawAnchoredText(painter, captionAnchor.x(), captionAnchor.y(), anchor, caption_);
  lampOn_ = Checked();
  DrawLamp(painter, lamp, led_->Shape(), lampOn_ ? led_->ColorOn() : led_->ColorOff());
  painted_ = true;
}
