// The LED indicator's layout and pixels, as the window's LedIndicator1 uses it.
#include "FlashClock.h"
#include "Fonts.h"
#include "LedIndicator.h"
#include "WidgetTestSupport.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <gtest/gtest.h>

#include <climits>

namespace {

// Remembers the area of every paint.
class PaintAreas : public QObject {
public:
  explicit PaintAreas(QWidget* w) { w->installEventFilter(this); }
  std::vector<QRect> rects;

protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) rects.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
};

struct LedFixture : ::testing::Test {
  void SetUp() override {
    stage.Window()->setFont(MakeFont("MS Sans Serif", -11));
    led = new TLedIndicator(stage.Window(), "LedIndicator1");
    led->setGeometry(8, 72, 113, 25);
    led->SetCaption(QString::fromUtf8("Отклик от БК"));
    led->SetMode(mIndicator);
    led->SetLED_Position(lpLeft);
    led->SetSpacing(5);
    stage.Show();
  }
  Stage stage;
  TLedIndicator* led = nullptr;
};

bool IsStage(const QImage& img, int x, int y) { return PixelAt(img, x, y) == kStageColor; }

}  // namespace

TEST_F(LedFixture, LampRectangleAndColoursOfLedIndicator1) {
  QImage img = stage.Settled(led);
  EXPECT_EQ(led->LED()->LampRect(), (TRect{0, 6, 13, 19}));
  const TColor off = ColorToRGB(clBtnFace);
  const TColor shadow = ColorToRGB(clBtnShadow);
  EXPECT_EQ(PixelAt(img, 6, 12), off);
  EXPECT_EQ(PixelAt(img, 9, 14), off);
  // Outlined in the button shadow colour, touching all four edges of the
  // rectangle, with nothing drawn just outside it.
  EXPECT_EQ(PixelAt(img, 6, 6), shadow);
  EXPECT_EQ(PixelAt(img, 6, 18), shadow);
  EXPECT_EQ(PixelAt(img, 0, 12), shadow);
  EXPECT_EQ(PixelAt(img, 12, 12), shadow);
  for (int x = 0; x <= 13; ++x) {
    EXPECT_TRUE(IsStage(img, x, 5)) << x;
    EXPECT_TRUE(IsStage(img, x, 19)) << x;
  }
  for (int y = 6; y < 19; ++y) EXPECT_TRUE(IsStage(img, 13, y)) << y;
  EXPECT_TRUE(IsStage(img, 0, 6));  // a round lamp leaves its corners alone
  // The highlight arc over the upper-left quarter.
  EXPECT_EQ(PixelAt(img, 6, 8), ColorToRGB(clBtnHighlight));

  // Lit at once, without waiting for a paint cycle.
  led->SetChecked(true);
  img = stage.Screen(led);
  EXPECT_EQ(PixelAt(img, 6, 12), clLime);
  EXPECT_EQ(PixelAt(img, 9, 14), clLime);
  EXPECT_EQ(PixelAt(img, 6, 6), shadow);
}

TEST_F(LedFixture, CaptionStartsAfterSpacingAndIsCentredVertically) {
  const QImage img = stage.Settled(led);
  int left = INT_MAX;
  int top = INT_MAX;
  int bottom = -1;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 13; x < img.width(); ++x)
      if (!IsStage(img, x, y)) {
        left = std::min(left, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  ASSERT_NE(bottom, -1) << "no caption drawn";
  // The text box starts at x = 18; glyphs may have a pixel of side bearing.
  EXPECT_GE(left, 18);
  EXPECT_LE(left, 20);
  const QFontMetrics m(led->font());
  const int boxTop = 12 - m.height() / 2;
  EXPECT_GE(top, boxTop);
  EXPECT_LE(bottom, boxTop + m.height() - 1);
}

TEST_F(LedFixture, StateChangesRepaintOnlyTheLamp) {
  (void)stage.Settled(led);
  PaintAreas areas(led);
  int notes = 0;
  led->OnStatusChanged = [&](QObject*) { ++notes; };
  led->SetChecked(true);
  ASSERT_EQ(areas.rects.size(), 1u);
  EXPECT_EQ(areas.rects[0], QRect(0, 6, 13, 13));
  led->SetChecked(true);
  EXPECT_EQ(areas.rects.size(), 1u);
  EXPECT_EQ(notes, 1);
  // A click on an indicator changes nothing.
  QTest::mouseClick(led, Qt::LeftButton, Qt::NoModifier, QPoint(5, 12));
  EXPECT_TRUE(led->Checked());
}

TEST_F(LedFixture, FlashingAlternatesTheLampWhileCheckedStays) {
  auto& clock = FlashClock::Instance();
  clock.Stop();
  clock.SetMillisecondSource([] { return 0u - 8u; });
  clock.SetCounter(0);
  led->SetFlashing(true);
  led->SetChecked(true);
  for (int i = 0; i < 8; ++i) clock.Tick();  // phase on at 8
  EXPECT_EQ(PixelAt(stage.Screen(led), 6, 12), clLime);
  for (int i = 0; i < 8; ++i) clock.Tick();  // phase off at 16
  EXPECT_EQ(PixelAt(stage.Screen(led), 6, 12), ColorToRGB(clBtnFace));
  EXPECT_TRUE(led->Checked());
  led->SetChecked(false);
  EXPECT_FALSE(clock.IsRegistered(led));
  EXPECT_EQ(PixelAt(stage.Screen(led), 6, 12), ColorToRGB(clBtnFace));
  clock.SetMillisecondSource(nullptr);
}

TEST_F(LedFixture, LampSizeLimitsAndRoundLampsStaySquare) {
  led->LED()->SetWidth(40);
  led->LED()->SetWidth(3);
  EXPECT_EQ(led->LED()->Width(), 13);
  int changes = 0;
  led->LED()->OnChange = [&](QObject*) { ++changes; };
  led->LED()->SetWidth(20);
  led->LED()->SetWidth(20);
  EXPECT_EQ(changes, 1);
  led->LED()->OnChange = [this](QObject*) { led->Redraw(); };
  led->Redraw();
  (void)stage.Settled(led);
  EXPECT_EQ(led->LED()->LampRect(), (TRect{0, 2, 20, 22}));  // 20 x 20 around cy = 12
}

TEST_F(LedFixture, RectangleLampFillsItsRectangleExactly) {
  led->LED()->SetShape(sRectangle);
  led->LED()->SetWidth(10);
  led->LED()->SetHeight(7);
  led->LED()->SetColorOff(clRed);
  const QImage img = stage.Settled(led);
  EXPECT_EQ(led->LED()->LampRect(), (TRect{0, 9, 10, 16}));
  const TColor shadow = ColorToRGB(clBtnShadow);
  EXPECT_EQ(PixelAt(img, 0, 9), shadow);
  EXPECT_EQ(PixelAt(img, 9, 9), shadow);
  EXPECT_EQ(PixelAt(img, 0, 15), shadow);
  EXPECT_EQ(PixelAt(img, 9, 15), shadow);
  EXPECT_EQ(PixelAt(img, 5, 12), clRed);
  EXPECT_TRUE(IsStage(img, 10, 12));
  EXPECT_TRUE(IsStage(img, 5, 16));
}

TEST_F(LedFixture, LampPositions) {
  TRect lamp;
  QPoint anchorPoint;
  int anchor = -1;
  led->resize(60, 40);
  led->SetLED_Position(lpRight);
  led->Layout(lamp, anchorPoint, anchor);
  EXPECT_EQ(lamp, (TRect{47, 14, 60, 27}));
  EXPECT_EQ(anchorPoint, QPoint(42, 20));
  EXPECT_EQ(anchor, 5);
  led->SetLED_Position(lpTop);
  led->Layout(lamp, anchorPoint, anchor);
  EXPECT_EQ(lamp, (TRect{24, 0, 37, 13}));
  EXPECT_EQ(anchorPoint, QPoint(30, 18));
  EXPECT_EQ(anchor, 1);
  led->SetLED_Position(lpBottom);
  led->Layout(lamp, anchorPoint, anchor);
  EXPECT_EQ(lamp, (TRect{24, 27, 37, 40}));
  EXPECT_EQ(anchorPoint, QPoint(30, 22));
  EXPECT_EQ(anchor, 7);
}

TEST(DrawAnchoredText, NineAnchorsOfAThreeByThreeGrid) {
  // Text 31 x 13 anchored at (100, 50).
  const QPoint expected[9] = {{100, 50}, {85, 50},  {69, 50}, {100, 44}, {85, 44},
                              {69, 44},  {100, 37}, {85, 37}, {69, 37}};
  for (int a = 0; a < 9; ++a) EXPECT_EQ(AnchoredTextOrigin(100, 50, a, 31, 13), expected[a]) << a;
}

TEST(DrawLamp, ArrowsPointTheirWay) {
  QImage img(20, 20, QImage::Format_RGB32);
  const auto draw = [&img](TLEDShape shape) {
    img.fill(Qt::white);
    QPainter p(&img);
    DrawLamp(p, TRect{0, 0, 11, 11}, shape, clRed);
  };
  const TColor shadow = ColorToRGB(clBtnShadow);
  draw(sArrowLeft);
  EXPECT_EQ(PixelAt(img, 0, 5), shadow);  // tip on the left
  EXPECT_EQ(PixelAt(img, 0, 0), clWhite);
  EXPECT_EQ(PixelAt(img, 10, 0), shadow);
  draw(sArrowRight);
  EXPECT_EQ(PixelAt(img, 10, 5), shadow);
  EXPECT_EQ(PixelAt(img, 10, 0), clWhite);
  draw(sArrowUp);
  EXPECT_EQ(PixelAt(img, 5, 0), shadow);
  EXPECT_EQ(PixelAt(img, 0, 0), clWhite);
  EXPECT_EQ(PixelAt(img, 5, 7), clRed);
  draw(sArrowDown);
  EXPECT_EQ(PixelAt(img, 5, 10), shadow);
  EXPECT_EQ(PixelAt(img, 0, 10), clWhite);
  EXPECT_EQ(PixelAt(img, 5, 3), clRed);
}
