#pragma once
// The colour switch button: a gradient face inside a bevel made of colour
// ramps, an optional glyph and two texts, one for off and one for on.

#include "BinaryControl.h"
#include "EnumSet.h"
#include "Colors.h"
#include "LedIndicator.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <initializer_list>

enum TPosH : std::uint8_t { phLeft, phRight, phCenter };
enum TPosV : std::uint8_t { pvTop, pvBottom, pvCenter };
enum TPos : std::uint8_t { pLeft, pRight, pTop, pBottom };
enum TFlashOption : std::uint8_t { foGlyph, foText, foTextCol, foBtnCol };
enum TCheckedOption : std::uint8_t { coGlyph, coText, coTextCol, coBtnCol, coBevel };
// clang-format off
enum TGradientStyle : std::uint8_t {
    gsHorizontal1, gsHorizontal2, gsHorizontal3,
    gsVertical1, gsVertical2, gsVertical3,
    gsElliptic1, gsElliptic2, gsElliptic3,
    gsRectangle, gsDiamond1, gsDiamond2,
    gsTopLeft, gsTopRight
};
// clang-format on

using TFlashOptions = TEnumSet<TFlashOption>;
using TCheckedOptions = TEnumSet<TCheckedOption>;

class TGradientSettings : public TWidgetSettings {
public:
  TColor ColorFrom() const { return colorFrom_; }
  void SetColorFrom(TColor value);
  TColor ColorTo() const { return colorTo_; }
  void SetColorTo(TColor value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  TGradientStyle Style() const { return style_; }
  void SetStyle(TGradientStyle value);

  void Assign(const TGradientSettings& other);

private:
  TColor colorFrom_ = RGB(226, 226, 226);
  TColor colorTo_ = RGB(143, 143, 143);
  bool visible_ = false;
  TGradientStyle style_ = gsHorizontal1;
};

class TButtonBevel : public TWidgetSettings {
public:
  TColor ShadowColFrom() const { return shadowColFrom_; }
  void SetShadowColFrom(TColor value);
  TColor ShadowColTo() const { return shadowColTo_; }
  void SetShadowColTo(TColor value);
  TColor HighlightColFrom() const { return highlightColFrom_; }
  void SetHighlightColFrom(TColor value);
  TColor HighlightColTo() const { return highlightColTo_; }
  void SetHighlightColTo(TColor value);
  // Negative values are ignored.
  int Width() const { return width_; }
  void SetWidth(int value);

  void Assign(const TButtonBevel& other);

private:
  TColor shadowColFrom_ = clBlack;
  TColor shadowColTo_ = clBtnShadow;
  TColor highlightColFrom_ = RGB(210, 210, 210);
  TColor highlightColTo_ = clBtnHighlight;
  int width_ = 2;
};

// Step i of n from one colour to another, per channel rounded to nearest
// with halves to even. Equal colours return From as given (unresolved).
TColor InterpolateColor(TColor from, TColor to, int n, int i);

// The bevel rings along the inside of the rectangle, outermost first; with
// fill the rectangle is first painted in the face colour.
void DrawBevel(QPainter& painter, const TRect& rect, TColor face, bool fill, bool raised, const TButtonBevel& bevel);

// Text with a highlight copy one pixel right and down and a shadow copy one
// pixel left and up behind it (when text3D), anchored as DrawAnchoredText.
void DrawText3D(QPainter& painter, QPoint point, bool text3D, int anchor, const QString& text, TColor highlight,
                TColor shadow, TColor textColor);

// A gradient image of the given size from one colour to another.
QImage MakeGradient(int width, int height, TColor from, TGradientStyle style, TColor to);

// The gradient drawn over the rectangle. An empty rectangle draws nothing.
void DrawGradient(QPainter& painter, const TRect& rect, TColor from, TGradientStyle style, TColor to);

// Where the content goes, for the current texts, glyph and font.
struct TButtonLayout {
  int x = 0;  // content block centre
  int y = 0;
  int W = 0;  // content block size
  int H = 0;
  int gx = 0;  // glyph top-left
  int gy = 0;
  int gw = 0;  // glyph frame size
  int gh = 0;
  int tw = 0;  // the wider text's width
  int th = 0;  // 0.85 of the text height
  QPoint textPoint;
  int textAnchor = 3;
};

class TColorButton : public TBinaryControl {
public:
  explicit TColorButton(QWidget* owner = nullptr);
  ~TColorButton() override;

  TPosH PosHorizontal() const { return posHorizontal_; }
  void SetPosHorizontal(TPosH value) { SetAndDraw(posHorizontal_, value); }
  TPosV PosVertical() const { return posVertical_; }
  void SetPosVertical(TPosV value) { SetAndDraw(posVertical_, value); }
  TPos PosGlyph() const { return posGlyph_; }
  void SetPosGlyph(TPos value) { SetAndDraw(posGlyph_, value); }

  TGradientSettings* GradBtnFace() { return gradBtnFace_; }
  TButtonBevel* ButtonBevel() { return buttonBevel_; }

  TFlashOptions FlashOptions() const { return flashOptions_; }
  void SetFlashOptions(TFlashOptions value) { flashOptions_ = value; }
  TCheckedOptions CheckedOptions() const { return checkedOptions_; }
  void SetCheckedOptions(TCheckedOptions value) {
    checkedOptions_ = value;
    DrawStatus();
  }

  TColor ColorOff() const { return colorOff_; }
  void SetColorOff(TColor value) { SetAndDraw(colorOff_, value); }
  TColor ColorDisabled() const { return colorDisabled_; }
  void SetColorDisabled(TColor value) { SetAndDraw(colorDisabled_, value); }
  TColor ColorOn() const { return colorOn_; }
  void SetColorOn(TColor value) { SetAndDraw(colorOn_, value); }

  int OffsetX() const { return offsetX_; }
  void SetOffsetX(int value) { SetAndDraw(offsetX_, value); }
  int OffsetY() const { return offsetY_; }
  void SetOffsetY(int value) { SetAndDraw(offsetY_, value); }
  int OffsetDown() const { return offsetDown_; }
  void SetOffsetDown(int value) { SetAndDraw(offsetDown_, value); }

  const QImage& Glyph() const { return glyph_; }
  void SetGlyph(const QImage& value);
  int NumGlyph() const { return numGlyph_; }
  void SetNumGlyph(int value) {
    if (value > 0) SetAndDraw(numGlyph_, value);
  }

  bool Beveled() const { return beveled_; }
  void SetBeveled(bool value) { SetAndDraw(beveled_, value); }
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);
  bool Flat() const { return flat_; }
  void SetFlat(bool value) { SetAndDraw(flat_, value); }
  int Spacing() const { return spacing_; }
  void SetSpacing(int value) { SetAndDraw(spacing_, value); }

  QString TextOff() const { return textOff_; }
  void SetTextOff(const QString& value) { SetAndDraw(textOff_, value); }
  QString TextOn() const { return textOn_; }
  void SetTextOn(const QString& value) { SetAndDraw(textOn_, value); }
  TColor TextColOn() const { return textColOn_; }
  void SetTextColOn(TColor value) { SetAndDraw(textColOn_, value); }
  TColor TextColOff() const { return textColOff_; }
  void SetTextColOff(TColor value) { SetAndDraw(textColOff_, value); }
  TColor TextColDisabled() const { return textColDisabled_; }
  void SetTextColDisabled(TColor value) { SetAndDraw(textColDisabled_, value); }
  bool Text3D() const { return text3D_; }
  void SetText3D(bool value) { SetAndDraw(text3D_, value); }

  bool Enabled() const { return isEnabled(); }
  void SetEnabled(bool value);

  bool FlashPhase() const { return flashPhase_; }
  bool MouseOver() const { return mouseOver_; }

  // The text, colours and look that the overlay shows now.
  QString ShownText() const;
  TColor ShownTextColor() const;
  TColor ShownFaceColor() const;
  bool ShowsSunken() const;
  int ShownGlyphFrame() const;

  TButtonLayout ComputeLayout() const;

  // The cached background: what lies under the button plus the face.
  const QImage& Background() const { return background_; }

  void Redraw() override;
  void DrawStatus() override;

protected:
  void DrawFlashPhase(bool phase) override;
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

private:
  template <typename T>
  void SetAndDraw(T& field, const T& value) {
    if (field == value) return;
    field = value;
    DrawStatus();
  }

  bool ElementOn(TFlashOption flash, TCheckedOption checked) const;
  void BuildBackground();
  void ComposeOverlay();

  TPosH posHorizontal_ = phCenter;
  TPosV posVertical_ = pvCenter;
  TPos posGlyph_ = pLeft;
  TGradientSettings* gradBtnFace_;
  TButtonBevel* buttonBevel_;
  TFlashOptions flashOptions_{foGlyph, foText, foTextCol, foBtnCol};
  TCheckedOptions checkedOptions_{coGlyph, coText, coTextCol, coBtnCol, coBevel};
  TColor colorOff_ = clBtnFace;
  TColor colorDisabled_ = RGB(160, 160, 160);
  TColor colorOn_ = clBtnFace;
  int offsetX_ = 0;
  int offsetY_ = 0;
  int offsetDown_ = 1;
  QImage glyph_;
  QRgb glyphTransparent_ = 0;
  int numGlyph_ = 1;
  bool beveled_ = true;
  bool transparent_ = false;
  bool flat_ = false;
  int spacing_ = 4;
  QString textOff_;
  QString textOn_;
  TColor textColOn_ = clLime;
  TColor textColOff_ = clBlack;
  TColor textColDisabled_ = clBtnShadow;
  bool text3D_ = true;

  bool flashPhase_ = false;
  bool mouseOver_ = false;
  QImage background_;
  QImage screen_;
  bool overlayOnly_ = false;
};
