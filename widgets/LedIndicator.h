#pragma once
// The LED indicator: a lamp of a given shape with a caption beside it.

#include "BinaryControl.h"
#include "Colors.h"

#include <QRect>
#include <QString>

class QPainter;

enum TLEDShape : std::uint8_t { sRound, sArrowLeft, sArrowRight, sArrowUp, sArrowDown, sRectangle };
enum TLEDPos : std::uint8_t { lpLeft, lpRight, lpTop, lpBottom };

// A rectangle given by its edges; right and bottom are exclusive.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
  bool operator==(const TRect&) const = default;
};

// The look of a lamp.
class TLED : public TWidgetSettings {
public:
  TLEDShape Shape() const { return shape_; }
  void SetShape(TLEDShape value);
  TColor ColorOn() const { return colorOn_; }
  void SetColorOn(TColor value);
  TColor ColorOff() const { return colorOff_; }
  void SetColorOff(TColor value);
  // 4..30; other values are ignored.
  int Width() const { return width_; }
  void SetWidth(int value);
  int Height() const { return height_; }
  void SetHeight(int value);

  void Assign(const TLED& other);

  // Where the owner's last full paint put the lamp.
  TRect LampRect() const { return lampRect_; }
  void SetLampRect(const TRect& rect) { lampRect_ = rect; }

private:
  TLEDShape shape_ = sRound;
  TColor colorOn_ = clLime;
  TColor colorOff_ = clBtnFace;
  int width_ = 13;
  int height_ = 13;
  TRect lampRect_;
};

// Draws text so that the anchor point (x, y) sits at one of nine positions of
// its box: 0 top-left, 1 top-centre, 2 top-right, 3 middle-left, 4 centre,
// 5 middle-right, 6 bottom-left, 7 bottom-centre, 8 bottom-right. The painter's
// font and pen are used; the background stays as it is.
void DrawAnchoredText(QPainter& painter, int x, int y, int anchor, const QString& text);

// The text's top-left corner for DrawAnchoredText.
QPoint AnchoredTextOrigin(int x, int y, int anchor, int textWidth, int textHeight);

// Draws a lamp of the given shape filling the rectangle, outlined in the
// button shadow colour.
void DrawLamp(QPainter& painter, const TRect& rect, TLEDShape shape, TColor fill);

class TLedIndicator : public TBinaryControl {
public:
  explicit TLedIndicator(QWidget* owner = nullptr, const QString& name = QString());
  ~TLedIndicator() override;

  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);

  TLED* LED() { return led_; }
  const TLED* LED() const { return led_; }

  TLEDPos LED_Position() const { return position_; }
  void SetLED_Position(TLEDPos value);

  int Spacing() const { return spacing_; }
  void SetSpacing(int value);

  // Computes the lamp rectangle and the caption anchor for the current size.
  void Layout(TRect& lamp, QPoint& captionAnchor, int& anchor) const;

  void Redraw() override;
  void DrawStatus() override;

protected:
  void DrawFlashPhase(bool phase) override;
  void paintEvent(QPaintEvent* event) override;

private:
  void DrawLampOnly(bool on);

  QString caption_;
  TLED* led_;
  TLEDPos position_ = lpLeft;
  int spacing_ = 5;
  bool lampOnly_ = false;
  bool lampOn_ = false;
  bool painted_ = false;
};
