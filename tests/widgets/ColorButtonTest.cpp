// The colour switch button as the window's ColorButton4 uses it: gradient
// rows, bevel rings, texts and their positions, and the other looks.
#include "ColorButton.h"
#include "FlashClock.h"
#include "Fonts.h"
#include "LoaderSwitch.h"
#include "WidgetTestSupport.h"

#include <QEnterEvent>
#include <QPainter>
#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

const int kGreyRows[25] = {240, 234, 229, 223, 218, 212, 207, 202, 196, 191, 185, 180, 175,
                           169, 164, 158, 153, 148, 142, 137, 131, 126, 121, 115, 110};

struct SwitchFixture : ::testing::Test {
  void SetUp() override {
    button = new TColorButton(stage.Window());
    ConfigureLoaderSwitch(button);
    button->OnClick = [this](QObject*) { clicks.push_back(button->Checked()); };
    stage.Show();
  }
  QImage Look() { return stage.Settled(button); }
  void Click() {
    QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 16));
    QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 16));
  }

  Stage stage;
  TColorButton* button = nullptr;
  std::vector<bool> clicks;
};

TColor Grey(int level) { return RGB(level, level, level); }

// The colour of ring i (1 = outermost) on each side of a bevel of width n.
void ExpectRings(const QImage& img, int n, bool raised, const TButtonBevel& bevel) {
  const int w = img.width();
  const int h = img.height();
  const int mx = w / 2;
  const int my = h / 2;
  for (int i = 1; i <= n; ++i) {
    const TColor first = raised ? InterpolateColor(bevel.HighlightColFrom(), bevel.HighlightColTo(), n, i)
                                : InterpolateColor(bevel.ShadowColTo(), bevel.ShadowColFrom(), n, i);
    const TColor second = raised ? InterpolateColor(bevel.ShadowColFrom(), bevel.ShadowColTo(), n, i)
                                 : InterpolateColor(bevel.HighlightColTo(), bevel.HighlightColFrom(), n, i);
    const int k = i - 1;
    SCOPED_TRACE(::testing::Message() << "ring " << i << (raised ? " raised" : " sunken"));
    EXPECT_EQ(PixelAt(img, mx, k), ColorToRGB(first));           // top row
    EXPECT_EQ(PixelAt(img, k, my), ColorToRGB(first));           // left column
    EXPECT_EQ(PixelAt(img, k, k), ColorToRGB(first));            // top-left corner
    EXPECT_EQ(PixelAt(img, w - 1 - k, my), ColorToRGB(second));  // right column
    EXPECT_EQ(PixelAt(img, mx, h - 1 - k), ColorToRGB(second));  // bottom row
    EXPECT_EQ(PixelAt(img, w - 1 - k, k), ColorToRGB(second));   // top-right corner
    EXPECT_EQ(PixelAt(img, k, h - 1 - k), ColorToRGB(second));   // bottom-left corner
  }
}

// Columns in which the given colour appears.
std::pair<int, int> ColumnsOf(const QImage& img, TColor c) {
  int lo = INT_MAX;
  int hi = -1;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (PixelAt(img, x, y) == c) {
        lo = std::min(lo, x);
        hi = std::max(hi, x);
      }
  return {lo, hi};
}

}  // namespace

TEST(InterpolateColor, RoundsHalvesToEven) {
  EXPECT_EQ(InterpolateColor(RGB(0, 0, 0), RGB(5, 7, 3), 2, 1), RGB(2, 4, 2));   // 2.5, 3.5, 1.5
  EXPECT_EQ(InterpolateColor(RGB(0, 0, 0), RGB(1, 9, 11), 2, 1), RGB(0, 4, 6));  // 0.5, 4.5, 5.5
  EXPECT_EQ(InterpolateColor(RGB(5, 10, 0), RGB(0, 5, 0), 2, 1), RGB(3, 8, 0));  // -2.5, -2.5
  // The default raised highlight ramp of a four-pixel bevel.
  EXPECT_EQ(InterpolateColor(RGB(210, 210, 210), RGB(255, 255, 255), 4, 1), Grey(221));  // 11.25
  EXPECT_EQ(InterpolateColor(RGB(210, 210, 210), RGB(255, 255, 255), 4, 2), Grey(232));  // 22.5
  EXPECT_EQ(InterpolateColor(RGB(210, 210, 210), RGB(255, 255, 255), 4, 3), Grey(244));  // 33.75
  EXPECT_EQ(InterpolateColor(RGB(210, 210, 210), RGB(255, 255, 255), 4, 4), Grey(255));
}

TEST(InterpolateColor, EqualColoursAndZeroSteps) {
  // Equal after resolving: From comes back as given, still a system colour.
  const TColor face = ColorToRGB(clBtnFace);
  EXPECT_EQ(InterpolateColor(clBtnFace, face, 4, 2), clBtnFace);
  EXPECT_EQ(InterpolateColor(RGB(0, 0, 0), RGB(100, 0, 0), 0, 1), RGB(100, 0, 0));
  EXPECT_EQ(InterpolateColor(clBlack, clBtnShadow, 4, 4), ColorToRGB(clBtnShadow));
}

TEST(Gradient, HorizontalBandsOfTheSwitchFace) {
  const QImage img = MakeGradient(425, 25, RGB(240, 240, 240), gsHorizontal1, RGB(105, 105, 105));
  for (int y = 0; y < 25; ++y) {
    EXPECT_EQ(PixelAt(img, 0, y), Grey(kGreyRows[y])) << y;
    EXPECT_EQ(PixelAt(img, 424, y), Grey(kGreyRows[y])) << y;
  }
}

TEST(Gradient, SinglePrecisionIncrementsAndLeftoverRows) {
  // 10 levels over 25 rows: bands of 2, 12 of them; the increment 10/12 is
  // held in single precision, so band 12 (row 24) ends one level short.
  const QImage img = MakeGradient(3, 25, RGB(0, 0, 0), gsHorizontal1, RGB(10, 10, 10));
  EXPECT_EQ(PixelAt(img, 1, 0), Grey(0));
  EXPECT_EQ(PixelAt(img, 1, 1), Grey(0));
  EXPECT_EQ(PixelAt(img, 1, 2), Grey(0));  // 0.83
  EXPECT_EQ(PixelAt(img, 1, 4), Grey(1));  // 1.67
  EXPECT_EQ(PixelAt(img, 1, 24), Grey(9));
  // 25 rows with one level to go: a single band of From.
  const QImage flat = MakeGradient(3, 25, RGB(100, 0, 0), gsHorizontal1, RGB(101, 0, 0));
  EXPECT_EQ(PixelAt(flat, 0, 24), RGB(100, 0, 0));
  // Vertical bands run the same ramp along x.
  const QImage v = MakeGradient(25, 3, RGB(240, 240, 240), gsVertical1, RGB(105, 105, 105));
  for (int x = 0; x < 25; ++x) EXPECT_EQ(PixelAt(v, x, 2), Grey(kGreyRows[x])) << x;
}

TEST(Gradient, EveryStyleRunsFromItsOriginToItsEnd) {
  const TColor from = RGB(250, 250, 250);
  const TColor to = RGB(50, 50, 50);
  const int w = 61;
  const int h = 41;
  const auto at = [&](TGradientStyle s, int x, int y) { return PixelAt(MakeGradient(w, h, from, s, to), x, y); };
  EXPECT_EQ(at(gsHorizontal2, 5, h / 2), from);
  EXPECT_EQ(at(gsHorizontal2, 5, 0), to);
  EXPECT_EQ(at(gsHorizontal3, 5, h / 3), from);
  EXPECT_EQ(at(gsVertical2, w / 2, 5), from);
  EXPECT_EQ(at(gsVertical2, 0, 5), to);
  EXPECT_EQ(at(gsVertical3, w / 3, 5), from);
  for (TGradientStyle s : {gsElliptic1, gsElliptic2, gsRectangle, gsDiamond1}) {
    EXPECT_EQ(at(s, 0, 0), to) << int(s);
    EXPECT_GT(GetRValue(at(s, w / 2, h / 2)), 240) << int(s);
  }
  // The second diamond spreads the ramp over the larger side: lighter corners.
  EXPECT_EQ(at(gsDiamond2, w / 2, h / 2), from);
  EXPECT_GT(GetRValue(at(gsDiamond2, 0, 0)), GetRValue(to));
  EXPECT_GT(GetRValue(at(gsDiamond2, 0, 0)), GetRValue(at(gsDiamond1, 0, 0)));
  EXPECT_EQ(at(gsRectangle, w / 2, h / 2), from);
  EXPECT_EQ(at(gsTopLeft, 0, 0), from);
  EXPECT_EQ(at(gsTopLeft, w - 1, h - 1), to);
  EXPECT_EQ(at(gsTopRight, w - 1, 0), from);
  EXPECT_EQ(at(gsTopRight, 0, h - 1), to);
  EXPECT_GT(GetRValue(at(gsElliptic3, w / 4 + 1, h / 4 + 1)), GetRValue(at(gsElliptic3, w / 2, h / 2)));
  // Equal colours: one solid fill.
  const QImage solid = MakeGradient(w, h, clBtnFace, gsDiamond1, ColorToRGB(clBtnFace));
  EXPECT_EQ(PixelAt(solid, 0, 0), ColorToRGB(clBtnFace));
  EXPECT_EQ(PixelAt(solid, w / 2, h / 2), ColorToRGB(clBtnFace));
}

TEST_F(SwitchFixture, OffLookGradientRowsAndRaisedBevel) {
  const QImage img = Look();
  for (int x : {4, 40, 428}) {
    for (int y = 0; y < 25; ++y) EXPECT_EQ(PixelAt(img, x, y + 4), Grey(kGreyRows[y])) << x << "," << y;
  }
  ExpectRings(img, 4, true, *button->ButtonBevel());
  EXPECT_EQ(button->ShownText(), QString::fromUtf8("Старт BootLoader"));
  EXPECT_EQ(ColumnsOf(img, clLime).second, -1);
  EXPECT_NE(ColumnsOf(img, clBlack).second, -1);
}

TEST_F(SwitchFixture, PressLatchesOnSunkenShiftedAndGreen) {
  (void)Look();
  const TButtonLayout off = button->ComputeLayout();
  EXPECT_EQ(off.x, 216);
  EXPECT_EQ(off.y, 16);
  EXPECT_EQ(off.textPoint, QPoint(216 - off.tw / 2, 16));

  QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 16));
  // Drawn at the press, before any paint cycle.
  QImage img = stage.Screen(button);
  EXPECT_TRUE(button->Checked());
  ExpectRings(img, 4, false, *button->ButtonBevel());
  const TButtonLayout on = button->ComputeLayout();
  EXPECT_EQ(on.textPoint, QPoint(217 - off.tw / 2, 17));
  const auto [lo, hi] = ColumnsOf(img, clLime);
  ASSERT_NE(hi, -1) << "no green text";
  EXPECT_GE(lo, on.textPoint.x());
  EXPECT_LE(hi, on.textPoint.x() + off.tw);
  EXPECT_TRUE(clicks.empty());

  QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 16));
  EXPECT_EQ(clicks, std::vector<bool>{true});
  img = stage.Screen(button);
  ExpectRings(img, 4, false, *button->ButtonBevel());  // stays sunken while on
  for (int y = 0; y < 25; ++y) EXPECT_EQ(PixelAt(img, 40, y + 4), Grey(kGreyRows[y])) << y;

  Click();
  EXPECT_EQ(clicks, (std::vector<bool>{true, false}));
  img = stage.Screen(button);
  ExpectRings(img, 4, true, *button->ButtonBevel());
  EXPECT_EQ(ColumnsOf(img, clLime).second, -1);
}

TEST_F(SwitchFixture, CheckedWriteShowsOffLookAtOnceWithoutClick) {
  Click();
  ASSERT_TRUE(button->Checked());
  button->SetChecked(false);
  const QImage img = stage.Screen(button);
  ExpectRings(img, 4, true, *button->ButtonBevel());
  EXPECT_EQ(ColumnsOf(img, clLime).second, -1);
  EXPECT_EQ(clicks, std::vector<bool>{true});
}

TEST_F(SwitchFixture, StateChangesReuseTheCachedBackground) {
  (void)Look();
  const qint64 key = button->Background().cacheKey();
  Click();
  button->SetChecked(false);
  EXPECT_EQ(button->Background().cacheKey(), key);
  button->GradBtnFace()->SetColorTo(RGB(0, 0, 128));  // any face change repaints all
  (void)Look();
  EXPECT_NE(button->Background().cacheKey(), key);
  EXPECT_EQ(PixelAt(stage.Screen(button), 40, 28), RGB(9, 9, 132));
}

TEST_F(SwitchFixture, ButtonModeIsSunkenOnlyWhileHeld) {
  button->SetMode(mButton);
  QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 16));
  EXPECT_TRUE(button->Checked());
  ExpectRings(stage.Screen(button), 4, false, *button->ButtonBevel());
  QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(100, 16));
  EXPECT_FALSE(button->Checked());
  EXPECT_EQ(clicks, std::vector<bool>{true});
  ExpectRings(stage.Screen(button), 4, true, *button->ButtonBevel());
}

TEST_F(SwitchFixture, CheckedOptionsChooseWhatShowsOn) {
  button->SetCheckedOptions({coGlyph, coTextCol, coBtnCol});
  Click();
  ASSERT_TRUE(button->Checked());
  EXPECT_EQ(button->ShownText(), button->TextOff());
  EXPECT_EQ(button->ShownTextColor(), clLime);
  EXPECT_FALSE(button->ShowsSunken());
  ExpectRings(stage.Screen(button), 4, true, *button->ButtonBevel());
  EXPECT_EQ(button->ComputeLayout().textPoint.y(), 16);  // not shifted
}

TEST_F(SwitchFixture, FlashingAlternatesTextWhileBevelStaysSunken) {
  auto& clock = FlashClock::Instance();
  clock.Stop();
  clock.SetMillisecondSource([] { return 0u - 8u; });
  clock.SetCounter(0);
  button->SetFlashOptions({foText, foTextCol});
  button->SetFlashing(true);
  Click();
  const QString on = button->TextOn();
  const QString off = button->TextOff();
  for (int i = 0; i < 7; ++i) clock.Tick();
  // Until the first phase arrives the flashing elements show phase "off".
  EXPECT_EQ(button->ShownText(), off);
  clock.Tick();  // 8: on
  EXPECT_EQ(button->ShownText(), on);
  EXPECT_NE(ColumnsOf(stage.Screen(button), clLime).second, -1);
  for (int i = 0; i < 8; ++i) clock.Tick();  // 16: off
  EXPECT_EQ(button->ShownText(), off);
  EXPECT_EQ(button->ShownTextColor(), clBlack);
  QImage img = stage.Screen(button);
  EXPECT_EQ(ColumnsOf(img, clLime).second, -1);
  ExpectRings(img, 4, false, *button->ButtonBevel());
  button->SetChecked(false);
  EXPECT_FALSE(clock.IsRegistered(button));
  clock.SetMillisecondSource(nullptr);
}

TEST_F(SwitchFixture, DisabledSolidFaceAndGlyphFrames) {
  // A 48 x 16 strip of three frames: red, (disabled) blue, (on) green, with
  // a white bottom-left pixel that makes white transparent.
  QImage strip(48, 16, QImage::Format_RGB32);
  strip.fill(Qt::white);
  QPainter(&strip).fillRect(2, 2, 12, 12, QColor(255, 0, 0));
  QPainter(&strip).fillRect(18, 2, 12, 12, QColor(0, 0, 255));
  QPainter(&strip).fillRect(34, 2, 12, 12, QColor(0, 255, 0));
  button->SetGlyph(strip);
  button->SetNumGlyph(3);
  button->SetNumGlyph(0);
  EXPECT_EQ(button->NumGlyph(), 3);
  button->GradBtnFace()->SetVisible(false);
  QImage img = Look();
  const TButtonLayout l = button->ComputeLayout();
  EXPECT_EQ(l.gw, 16);
  EXPECT_EQ(l.textPoint.x(), l.gx + 16 + 4);
  EXPECT_EQ(PixelAt(img, l.gx + 8, l.gy + 8), clRed);
  EXPECT_EQ(PixelAt(img, l.gx, l.gy), ColorToRGB(clBtnFace));  // transparent corner
  EXPECT_EQ(PixelAt(img, 40, 16), ColorToRGB(clBtnFace));      // solid face, off
  Click();
  const TButtonLayout lo = button->ComputeLayout();
  EXPECT_EQ(PixelAt(stage.Screen(button), lo.gx + 8, lo.gy + 8), clLime);

  button->SetEnabled(false);
  img = Look();
  EXPECT_EQ(button->ShownGlyphFrame(), 1);
  EXPECT_EQ(PixelAt(img, lo.gx + 8, lo.gy + 8), clBlue);
  EXPECT_EQ(PixelAt(img, 40, 16), RGB(160, 160, 160));
  EXPECT_EQ(button->ShownTextColor(), clBtnShadow);
  // A disabled button takes no clicks.
  Click();
  EXPECT_TRUE(button->Checked());
}

TEST_F(SwitchFixture, TransparentFlatAndBevelWidthZero) {
  button->SetTransparent(true);
  QImage img = Look();
  EXPECT_EQ(PixelAt(img, 40, 16), kStageColor);  // the parent shows through
  ExpectRings(img, 4, true, *button->ButtonBevel());

  button->SetTransparent(false);
  button->SetFlat(true);
  img = Look();
  EXPECT_EQ(PixelAt(img, 60, 0), kStageColor);  // no bevel, no face under it
  QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), button->mapToGlobal(QPointF(10, 10)));
  QApplication::sendEvent(button, &enter);
  EXPECT_TRUE(button->MouseOver());
  ExpectRings(stage.Screen(button), 4, true, *button->ButtonBevel());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(button, &leave);
  EXPECT_FALSE(button->MouseOver());
  EXPECT_EQ(PixelAt(stage.Screen(button), 60, 0), kStageColor);

  button->SetFlat(false);
  button->ButtonBevel()->SetWidth(-1);
  EXPECT_EQ(button->ButtonBevel()->Width(), 4);
  button->ButtonBevel()->SetWidth(0);
  img = Look();
  // The gradient now spans all 33 rows, increment -135/33 in single precision.
  EXPECT_EQ(PixelAt(img, 40, 0), Grey(240));
  EXPECT_EQ(PixelAt(img, 0, 1), Grey(235));
  EXPECT_EQ(PixelAt(img, 432, 32), Grey(109));
}

TEST_F(SwitchFixture, TinyButtonsDrawWithoutAFace) {
  button->SetTextOn(QString());
  button->SetTextOff(QString());
  button->resize(20, 8);  // no rows left inside a four-pixel bevel
  const QImage img = Look();
  const TButtonBevel& bevel = *button->ButtonBevel();
  EXPECT_EQ(PixelAt(img, 0, 0), ColorToRGB(InterpolateColor(bevel.HighlightColFrom(), bevel.HighlightColTo(), 4, 1)));
  EXPECT_EQ(PixelAt(img, 19, 7), ColorToRGB(InterpolateColor(bevel.ShadowColFrom(), bevel.ShadowColTo(), 4, 1)));
  // The innermost ring meets itself: its top row is also its bottom row.
  EXPECT_EQ(PixelAt(img, 10, 3), ColorToRGB(InterpolateColor(bevel.HighlightColFrom(), bevel.HighlightColTo(), 4, 4)));
  EXPECT_EQ(PixelAt(img, 10, 4), ColorToRGB(InterpolateColor(bevel.ShadowColFrom(), bevel.ShadowColTo(), 4, 4)));
}

TEST_F(SwitchFixture, EmptyTextsAndTextOffFallback) {
  button->SetTextOff(QString());
  EXPECT_EQ(button->ShownText(), button->TextOn());
  button->SetTextOn(QString());
  const TButtonLayout l = button->ComputeLayout();
  EXPECT_EQ(l.W, 0);
  EXPECT_EQ(l.H, 0);
  const QImage img = Look();
  EXPECT_EQ(ColumnsOf(img, clBlack).second, -1);
}

TEST(ButtonSettings, AssignCopiesEveryFieldAndNotifiesTheTarget) {
  TButtonBevel a;
  TButtonBevel b;
  a.SetShadowColFrom(clRed);
  a.SetShadowColTo(clLime);
  a.SetHighlightColFrom(clBlue);
  a.SetHighlightColTo(clYellow);
  a.SetWidth(7);
  int changes = 0;
  b.OnChange = [&](QObject* s) {
    EXPECT_EQ(s, &b);
    ++changes;
  };
  b.Assign(a);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(b.ShadowColFrom(), clRed);
  EXPECT_EQ(b.ShadowColTo(), clLime);
  EXPECT_EQ(b.HighlightColFrom(), clBlue);
  EXPECT_EQ(b.HighlightColTo(), clYellow);
  EXPECT_EQ(b.Width(), 7);

  TGradientSettings g;
  TGradientSettings h;
  g.SetColorFrom(clRed);
  g.SetColorTo(clBlue);
  g.SetVisible(true);
  g.SetStyle(gsDiamond2);
  h.Assign(g);
  EXPECT_EQ(h.ColorFrom(), clRed);
  EXPECT_EQ(h.ColorTo(), clBlue);
  EXPECT_TRUE(h.Visible());
  EXPECT_EQ(h.Style(), gsDiamond2);
}
