#pragma once
// The progress gauge: a value between a minimum and a maximum shown as a bar,
// a pie or a needle, with the whole-number percentage printed over it by
// exclusive-or so that it reads over both the filled and the empty part.

#include "Colors.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <stdexcept>
#include <string>

enum TGaugeKind : std::uint8_t { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum TBorderStyle : std::uint8_t { bsNone, bsSingle };

// The invalid-operation error of the range setters.
class EInvalidOperation : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A scratch bitmap that can take the size of another and fill itself.
class TBltBitmap : public QImage {
public:
  TBltBitmap() = default;
  // Takes the template's size and fills the whole bitmap with the window
  // frame colour.
  void MakeLike(const QImage& templ);
};

class TGauge : public QWidget {
public:
  explicit TGauge(QWidget* owner = nullptr);

  TColor BackColor() const { return backColor_; }
  void SetBackColor(TColor value);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  // Shown only around the pie and the needle; the parent's colour while
  // ParentColor is true.
  TColor Color() const;
  void SetColor(TColor value);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);
  TColor ForeColor() const { return foreColor_; }
  void SetForeColor(TColor value);
  TGaugeKind Kind() const { return kind_; }
  void SetKind(TGaugeKind value);
  bool ShowText() const { return showText_; }
  void SetShowText(bool value);

  std::int32_t MinValue() const { return minValue_; }
  void SetMinValue(std::int32_t value);
  std::int32_t MaxValue() const { return maxValue_; }
  void SetMaxValue(std::int32_t value);
  std::int32_t Progress() const { return progress_; }
  void SetProgress(std::int32_t value);
  // Adds to Progress, within the range.
  void AddProgress(std::int32_t value);

  int PercentComplete() const;

  // While the stored settings are applied, MinValue and MaxValue take any
  // value without the range test.
  void SetLoading(bool loading) { loading_ = loading; }

  // The composed picture with the percentage, as the paint puts it on screen.
  QImage Compose() const;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  void DrawKind(QImage& picture, int L, int T, int R, int B) const;
  void Repaint();

  TColor backColor_ = clWhite;
  TBorderStyle borderStyle_ = bsSingle;
  TColor color_ = clBtnFace;
  bool parentColor_ = true;
  TColor foreColor_ = clBlack;
  TGaugeKind kind_ = gkHorizontalBar;
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 100;
  std::int32_t progress_ = 0;
  bool showText_ = true;
  bool loading_ = false;
};
