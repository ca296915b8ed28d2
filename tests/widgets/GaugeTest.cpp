// The progress gauge as the window's ProgressBar1: bar, inverted percentage,
// repaints, clamping and range errors.
#include "Fonts.h"
#include "Gauges.h"
#include "WidgetTestSupport.h"

#include <QFontMetrics>
#include <QPainter>
#include <gtest/gtest.h>

#include <climits>

namespace {

struct GaugeFixture : ::testing::Test {
  void SetUp() override {
    stage.Window()->setFont(MakeFont("MS Sans Serif", -11));
    gauge = new TGauge(stage.Window());
    gauge->setGeometry(0, 100, 805, 25);
    stage.Show();
  }
  Stage stage;
  TGauge* gauge = nullptr;
};

// The percentage text alone, white on black, where the gauge puts it.
QImage TextMask(const TGauge& g, const QString& text) {
  QImage mask(g.size(), QImage::Format_RGB32);
  mask.fill(Qt::black);
  QPainter p(&mask);
  QFont f = g.font();
  f.setStyleStrategy(QFont::NoAntialias);
  p.setFont(f);
  p.setPen(Qt::white);
  const QFontMetrics m(f);
  const int x = (804 - m.horizontalAdvance(text)) / 2;
  const int y = (24 - m.height()) / 2;
  p.setClipRect(QRect(1, 1, 803, 23));
  p.drawText(QPoint(x, y + m.ascent()), text);
  return mask;
}

std::string Thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const EInvalidOperation& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST_F(GaugeFixture, HalfwayBarCoversColumnsOneTo401) {
  gauge->SetMaxValue(512);
  gauge->SetProgress(256);
  EXPECT_EQ(gauge->PercentComplete(), 50);
  const QImage shown = stage.Settled(gauge);
  gauge->SetShowText(false);
  const QImage bare = stage.Settled(gauge);
  for (int y = 0; y < 25; ++y) {
    EXPECT_EQ(PixelAt(bare, 0, y), clBlack);
    EXPECT_EQ(PixelAt(bare, 804, y), clBlack);
  }
  for (int x = 0; x < 805; ++x) {
    EXPECT_EQ(PixelAt(bare, x, 0), clBlack);
    EXPECT_EQ(PixelAt(bare, x, 24), clBlack);
  }
  for (int y = 1; y <= 23; ++y) {
    EXPECT_EQ(PixelAt(bare, 1, y), clBlack);
    EXPECT_EQ(PixelAt(bare, 401, y), clBlack) << y;
    EXPECT_EQ(PixelAt(bare, 402, y), clWhite) << y;
    EXPECT_EQ(PixelAt(bare, 803, y), clWhite) << y;
  }

  // The text inverts exactly the pixels it covers, on both sides of the edge.
  const QImage mask = TextMask(*gauge, "50%");
  int whiteOverBar = 0;
  int blackOverBack = 0;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 805; ++x) {
      const TColor under = PixelAt(bare, x, y);
      const bool text = PixelAt(mask, x, y) == clWhite;
      ASSERT_EQ(PixelAt(shown, x, y), text ? (under ^ 0xFFFFFFu) : under) << x << "," << y;
      if (text && under == clBlack) ++whiteOverBar;
      if (text && under == clWhite) ++blackOverBack;
    }
  EXPECT_GT(whiteOverBar, 0);
  EXPECT_GT(blackOverBack, 0);
}

TEST_F(GaugeFixture, RepaintsOnlyWhenThePercentageChanges) {
  gauge->SetMaxValue(512);
  (void)stage.Settled(gauge);
  PaintCounter paints(gauge);
  for (int v = 1; v <= 5; ++v) gauge->SetProgress(v);
  EXPECT_EQ(gauge->Progress(), 5);
  EXPECT_EQ(paints.count, 0);
  gauge->SetProgress(6);  // 1 %
  EXPECT_EQ(paints.count, 1);
  EXPECT_EQ(gauge->PercentComplete(), 1);
  gauge->AddProgress(1);
  EXPECT_EQ(gauge->Progress(), 7);
  EXPECT_EQ(paints.count, 1);
  // Setters other than Progress repaint on any change, and only then.
  gauge->SetForeColor(clBlack);
  EXPECT_EQ(paints.count, 1);
  gauge->SetForeColor(clRed);
  EXPECT_EQ(paints.count, 2);
}

TEST_F(GaugeFixture, ClampingAndFullBar) {
  gauge->SetMaxValue(600);
  gauge->SetProgress(1000);
  EXPECT_EQ(gauge->Progress(), 600);
  EXPECT_EQ(gauge->PercentComplete(), 100);
  gauge->SetShowText(false);
  const QImage img = stage.Settled(gauge);
  EXPECT_EQ(PixelAt(img, 803, 12), clBlack);
  EXPECT_EQ(PixelAt(img, 500, 12), clBlack);
  gauge->SetMaxValue(512);
  EXPECT_EQ(gauge->Progress(), 512);
  gauge->SetProgress(-7);
  EXPECT_EQ(gauge->Progress(), 0);
  gauge->SetMinValue(10);
  EXPECT_EQ(gauge->Progress(), 10);
}

TEST_F(GaugeFixture, ZeroRangeReadsZeroPercent) {
  gauge->SetMaxValue(0);
  EXPECT_EQ(gauge->PercentComplete(), 0);
  const QImage shown = stage.Settled(gauge);
  const QImage mask = TextMask(*gauge, "0%");
  for (int y = 1; y < 24; ++y)
    for (int x = 1; x < 804; ++x)
      ASSERT_EQ(PixelAt(shown, x, y), PixelAt(mask, x, y) == clWhite ? clBlack : clWhite) << x << "," << y;
}

TEST(Gauge, RangeErrorsLeaveEverythingAsItWas) {
  TGauge g;
  EXPECT_EQ(Thrown([&] { g.SetMinValue(150); }), "Value must be between -2147483647 and 99");
  EXPECT_EQ(Thrown([&] { g.SetMaxValue(-5); }), "Value must be between 1 and 2147483647");
  EXPECT_EQ(g.MinValue(), 0);
  EXPECT_EQ(g.MaxValue(), 100);
  g.SetMinValue(-20);
  EXPECT_EQ(Thrown([&] { g.SetMaxValue(-21); }), "Value must be between -19 and 2147483647");
  EXPECT_EQ(Thrown([&] { g.SetMaxValue(-20); }), "no error");
  EXPECT_EQ(Thrown([&] { g.SetMinValue(-20); }), "no error");
  // While stored settings are applied, no range test.
  g.SetLoading(true);
  EXPECT_EQ(Thrown([&] { g.SetMinValue(500); }), "no error");
  EXPECT_EQ(g.MinValue(), 500);
}

TEST(Gauge, PercentTruncatesTowardZero) {
  TGauge g;
  g.SetMaxValue(600);
  g.SetProgress(599);
  EXPECT_EQ(g.PercentComplete(), 99);
  g.SetMinValue(-600);
  g.SetMaxValue(0);
  g.SetProgress(-599);
  EXPECT_EQ(g.PercentComplete(), 0);
  g.SetProgress(-594);
  EXPECT_EQ(g.PercentComplete(), 1);
}

TEST_F(GaugeFixture, OtherKindsAndNoBorder) {
  gauge->SetBorderStyle(bsNone);
  gauge->SetShowText(false);
  gauge->SetProgress(50);
  QImage img = stage.Settled(gauge);
  // Bar from the very edge; w = R - L + 1 = 806 without a border, so 50 %
  // is 403 columns.
  EXPECT_EQ(PixelAt(img, 0, 0), clBlack);
  EXPECT_EQ(PixelAt(img, 402, 24), clBlack);
  EXPECT_EQ(PixelAt(img, 403, 0), clWhite);
  EXPECT_EQ(PixelAt(img, 804, 24), clWhite);

  gauge->resize(100, 100);
  gauge->SetBorderStyle(bsSingle);
  gauge->SetKind(gkVerticalBar);
  img = stage.Settled(gauge);
  EXPECT_EQ(PixelAt(img, 50, 90), clBlack);
  EXPECT_EQ(PixelAt(img, 50, 10), clWhite);

  gauge->SetKind(gkText);
  img = stage.Settled(gauge);
  EXPECT_EQ(PixelAt(img, 50, 90), clWhite);

  gauge->SetParentColor(false);
  gauge->SetColor(clYellow);
  gauge->SetKind(gkPie);
  img = stage.Settled(gauge);
  EXPECT_EQ(PixelAt(img, 2, 2), clYellow);   // outside the ellipse
  EXPECT_EQ(PixelAt(img, 70, 30), clBlack);  // the slice: upper right at 50 %
  EXPECT_EQ(PixelAt(img, 30, 30), clWhite);  // upper left still empty

  gauge->SetKind(gkNeedle);
  img = stage.Settled(gauge);
  EXPECT_EQ(PixelAt(img, 2, 5), clYellow);
  EXPECT_EQ(PixelAt(img, 50, 60), clBlack);  // the needle points straight up
  EXPECT_EQ(PixelAt(img, 30, 60), clWhite);
}
