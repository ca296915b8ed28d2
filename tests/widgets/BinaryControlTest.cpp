// State logic of the on/off control base: status word, groups, modes, mouse.
#include "BinaryControl.h"
#include "FlashClock.h"
#include "WidgetTestSupport.h"

#include <QMouseEvent>
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A plain control that keeps a log of its notifications.
class Probe : public TBinaryControl {
public:
  explicit Probe(QWidget* owner = nullptr) : TBinaryControl(owner) {
    resize(40, 20);
    OnStatusChanged = [this](QObject* s) {
      EXPECT_EQ(s, this);
      log.push_back("status:" + std::to_string(Checked()));
    };
    OnStatusIntChanged = [this](QObject*) { log.push_back("word:" + std::to_string(StatusInt())); };
  }
  void DrawStatus() override { ++drawStatusCalls; }
  std::vector<std::string> log;
  int drawStatusCalls = 0;
};

void Send(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint pos) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
  QMouseEvent event(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &event);
}

void Press(QWidget* w, Qt::MouseButton b = Qt::LeftButton, QPoint p = {5, 5}) {
  Send(w, QEvent::MouseButtonPress, b, p);
}
void Release(QWidget* w, Qt::MouseButton b = Qt::LeftButton, QPoint p = {5, 5}) {
  Send(w, QEvent::MouseButtonRelease, b, p);
}

}  // namespace

TEST(BinaryControlState, CheckedMirrorsItsBitAndNotifiesOnlyOnChange) {
  Probe c;
  c.SetStatusBit(3);
  c.SetChecked(false);
  EXPECT_TRUE(c.log.empty());
  EXPECT_EQ(c.drawStatusCalls, 0);

  c.SetChecked(true);
  EXPECT_EQ(c.StatusInt(), 8);
  // The status notification of the inner Checked write comes before the word's.
  EXPECT_EQ(c.log, (std::vector<std::string>{"word:8", "status:1"}));
  EXPECT_EQ(c.drawStatusCalls, 1);

  c.log.clear();
  c.SetChecked(true);
  EXPECT_TRUE(c.log.empty());
  EXPECT_EQ(c.drawStatusCalls, 1);

  c.SetStatusInt(8 | 1);
  EXPECT_TRUE(c.Checked());
  c.SetChecked(false);
  EXPECT_EQ(c.StatusInt(), 1);  // only this control's bit is cleared
}

TEST(BinaryControlState, StatusIntWriteSetsCheckedBeforeWordNotification) {
  Probe c;
  c.SetStatusBit(1);
  c.SetStatusInt(2);
  EXPECT_TRUE(c.Checked());
  EXPECT_EQ(c.log, (std::vector<std::string>{"status:1", "word:2"}));
  c.log.clear();
  c.SetStatusInt(2);
  EXPECT_TRUE(c.log.empty());
  c.SetStatusInt(5);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(c.StatusInt(), 5);
}

TEST(BinaryControlState, StatusBitLimits) {
  Probe c;
  c.SetStatusInt(INT_MIN);
  EXPECT_FALSE(c.Checked());
  c.SetStatusBit(32);
  EXPECT_EQ(c.StatusBit(), 0);
  c.SetStatusBit(-1);
  EXPECT_EQ(c.StatusBit(), 0);
  c.SetStatusBit(31);
  EXPECT_EQ(c.StatusBit(), 31);
  EXPECT_TRUE(c.Checked());  // bit 31 of -2147483648 is set
  c.SetStatusBit(30);
  EXPECT_FALSE(c.Checked());
}

TEST(BinaryControlState, RadioModeChecksOwnBitAloneAndKeepsWordWhenUnchecked) {
  Probe c;
  c.SetStatusBit(2);
  c.SetMode(mRadioButton);  // word := 1, bit 2 is off
  EXPECT_EQ(c.StatusInt(), 1);
  EXPECT_FALSE(c.Checked());
  c.SetChecked(true);
  EXPECT_EQ(c.StatusInt(), 4);
  c.SetChecked(false);
  EXPECT_EQ(c.StatusInt(), 4);
}

TEST(BinaryControlState, ModeWritesResetTheWordEvenWhenUnchanged) {
  QWidget owner;
  Probe bit0(&owner);
  Probe bit1(&owner);
  bit1.SetStatusBit(1);
  bit0.SetStatusInt(2);
  bit1.SetStatusInt(2);
  bit0.SetMode(mRadioButton);
  bit1.SetMode(mRadioButton);
  EXPECT_TRUE(bit0.Checked());
  EXPECT_FALSE(bit1.Checked());
  bit1.SetStatusInt(6);
  bit1.SetMode(mRadioButton);
  EXPECT_EQ(bit1.StatusInt(), 1);
  bit0.SetMode(mButton);
  EXPECT_EQ(bit0.StatusInt(), 0);
  EXPECT_FALSE(bit0.Checked());
  bit0.SetStatusInt(1);
  bit0.SetMode(mSwitch);  // other modes leave the word alone
  EXPECT_EQ(bit0.StatusInt(), 1);
}

TEST(BinaryControlGroups, RadioGroupSharesOneWord) {
  QWidget owner;
  Probe first(&owner);
  Probe second(&owner);
  Probe outsider(&owner);
  second.SetStatusBit(1);
  for (Probe* p : {&first, &second}) {
    p->SetGroupIndex(1);
    p->SetMode(mRadioButton);
  }
  EXPECT_TRUE(first.Checked());
  EXPECT_FALSE(second.Checked());

  Press(&second);
  Release(&second);
  EXPECT_EQ(first.StatusInt(), 2);
  EXPECT_EQ(second.StatusInt(), 2);
  EXPECT_FALSE(first.Checked());
  EXPECT_TRUE(second.Checked());
  EXPECT_EQ(outsider.StatusInt(), 0);

  second.SetChecked(false);
  EXPECT_FALSE(second.Checked());
  EXPECT_EQ(second.StatusInt(), 2);
  EXPECT_EQ(first.StatusInt(), 2);

  first.SetChecked(true);
  EXPECT_EQ(second.StatusInt(), 1);
  EXPECT_FALSE(second.Checked());
}

TEST(BinaryControlGroups, JoiningAGroupAdoptsItsWordAndOtherGroupsStayApart) {
  QWidget owner;
  Probe a(&owner);
  Probe b(&owner);
  Probe c(&owner);
  Probe other(&owner);
  a.SetGroupIndex(7);
  a.SetStatusInt(0b101);
  c.SetStatusBit(2);
  c.SetGroupIndex(7);
  EXPECT_EQ(c.StatusInt(), 0b101);
  EXPECT_TRUE(c.Checked());
  other.SetGroupIndex(8);
  b.SetGroupIndex(7);
  b.SetStatusBit(1);
  b.SetChecked(true);  // switch-style members each show their own bit
  EXPECT_EQ(a.StatusInt(), 0b111);
  EXPECT_EQ(c.StatusInt(), 0b111);
  EXPECT_EQ(other.StatusInt(), 0);
  b.SetGroupIndex(-3);
  EXPECT_EQ(b.GroupIndex(), 7);
  b.SetGroupIndex(0);
  b.SetChecked(false);
  EXPECT_EQ(a.StatusInt(), 0b111);
}

TEST(BinaryControlMouse, IndicatorIgnoresTheMouse) {
  Probe c;
  int clicks = 0;
  c.OnClick = [&](QObject*) { ++clicks; };
  Press(&c);
  EXPECT_FALSE(c.Pressed());
  Release(&c);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(clicks, 1);  // the toolkit's click still comes
  EXPECT_EQ(c.drawStatusCalls, 0);
}

TEST(BinaryControlMouse, SwitchTogglesAtPressAndClickSeesTheNewState) {
  Probe c;
  c.SetMode(mSwitch);
  std::vector<bool> seen;
  c.OnClick = [&](QObject* s) {
    EXPECT_EQ(s, &c);
    seen.push_back(c.Checked());
  };
  Press(&c);
  EXPECT_TRUE(c.Checked());
  EXPECT_TRUE(c.Pressed());
  EXPECT_TRUE(seen.empty());
  Release(&c);
  EXPECT_FALSE(c.Pressed());
  Press(&c);
  Release(&c);
  EXPECT_EQ(seen, (std::vector<bool>{true, false}));

  Press(&c, Qt::RightButton);
  Release(&c, Qt::RightButton);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(seen.size(), 2u);
}

TEST(BinaryControlMouse, ButtonIsOnOnlyWhileHeld) {
  Probe c;
  c.SetMode(mButton);
  std::vector<bool> seen;
  c.OnClick = [&](QObject*) { seen.push_back(c.Checked()); };
  Press(&c);
  EXPECT_TRUE(c.Checked());
  Release(&c);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(seen, std::vector<bool>{true});

  // Leaving the button before the release cancels the click; it falls back.
  Press(&c);
  Release(&c, Qt::LeftButton, QPoint(200, 5));
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(seen.size(), 1u);
}

TEST(BinaryControlMouse, SwitchReleasedOutsideStillReportsItsToggle) {
  Probe c;
  c.SetMode(mSwitch);
  std::vector<bool> seen;
  c.OnClick = [&](QObject*) { seen.push_back(c.Checked()); };
  Press(&c);
  Release(&c, Qt::LeftButton, QPoint(-30, 5));
  EXPECT_TRUE(c.Checked());
  EXPECT_EQ(seen, std::vector<bool>{true});
}

// A double click must not leave the switch showing one state while its click
// handler ran for the other: every toggle is followed by exactly one click.
TEST(BinaryControlMouse, DoubleClickOnSwitchKeepsStateAndHandlerInStep) {
  Stage stage;
  auto* c = new Probe(stage.Window());
  c->setGeometry(10, 10, 60, 30);
  c->SetMode(mSwitch);
  stage.Show();
  std::vector<bool> clicks;
  int doubles = 0;
  c->OnClick = [&](QObject*) { clicks.push_back(c->Checked()); };
  c->OnDblClick = [&](QObject*) { ++doubles; };

  // Through the window, as the platform delivers it.
  QTest::mouseDClick(stage.Window()->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  QApplication::processEvents();
  EXPECT_EQ(doubles, 1);
  EXPECT_FALSE(c->Checked());
  ASSERT_EQ(clicks, (std::vector<bool>{true, false}));
  EXPECT_EQ(clicks.back(), c->Checked());

  // The next single click turns it on, and its handler knows.
  clicks.clear();
  QTest::mouseClick(stage.Window()->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  QApplication::processEvents();
  EXPECT_TRUE(c->Checked());
  EXPECT_EQ(clicks, std::vector<bool>{true});
}

TEST(BinaryControlMouse, DoubleClickEventAloneCountsAsOneSecondPress) {
  // Some platforms send the second press only as a double-click event.
  Probe c;
  c.SetMode(mSwitch);
  std::vector<bool> clicks;
  int doubles = 0;
  c.OnClick = [&](QObject*) { clicks.push_back(c.Checked()); };
  c.OnDblClick = [&](QObject*) { ++doubles; };
  Press(&c);
  Release(&c);
  Send(&c, QEvent::MouseButtonDblClick, Qt::LeftButton, {5, 5});
  Release(&c);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(doubles, 1);
  EXPECT_EQ(clicks, (std::vector<bool>{true, false}));

  // A second press arriving as press and then double-click toggles once.
  clicks.clear();
  Press(&c);
  Release(&c);
  Press(&c);
  Send(&c, QEvent::MouseButtonDblClick, Qt::LeftButton, {5, 5});
  Release(&c);
  EXPECT_FALSE(c.Checked());
  EXPECT_EQ(clicks, (std::vector<bool>{true, false}));
}

TEST(BinaryControlMouse, DoubleClickOnIndicatorOrCheckedRadioRaisesOneClick) {
  // No toggle at the second press: the usual single click.
  Probe indicator;
  int clicks = 0;
  indicator.OnClick = [&](QObject*) { ++clicks; };
  Press(&indicator);
  Release(&indicator);
  Send(&indicator, QEvent::MouseButtonDblClick, Qt::LeftButton, {5, 5});
  Release(&indicator);
  EXPECT_EQ(clicks, 1);

  Probe radio;
  radio.SetMode(mRadioButton);
  ASSERT_TRUE(radio.Checked());
  int radioClicks = 0;
  radio.OnClick = [&](QObject*) { ++radioClicks; };
  Press(&radio);
  Release(&radio);
  Send(&radio, QEvent::MouseButtonDblClick, Qt::LeftButton, {5, 5});
  Release(&radio);
  EXPECT_EQ(radioClicks, 1);
}

TEST(BinaryControlFlashing, OnTheClockExactlyWhileCheckedAndFlashing) {
  auto& clock = FlashClock::Instance();
  auto c = std::make_unique<Probe>();
  c->SetFlashing(true);
  EXPECT_FALSE(clock.IsRegistered(c.get()));
  EXPECT_EQ(c->log, std::vector<std::string>{"status:0"});
  c->SetChecked(true);
  EXPECT_TRUE(clock.IsRegistered(c.get()));
  c->SetChecked(false);
  EXPECT_FALSE(clock.IsRegistered(c.get()));
  c->SetChecked(true);
  c->SetFlashing(false);
  EXPECT_FALSE(clock.IsRegistered(c.get()));
  c->SetFlashing(true);
  EXPECT_TRUE(clock.IsRegistered(c.get()));
  const TBinaryControl* gone = c.get();
  c.reset();
  EXPECT_FALSE(clock.IsRegistered(gone));
}

TEST(BinaryControlMouse, FailingClickHandlerStillReleasesTheControl) {
  // Called directly: an exception must not be thrown through Qt's delivery.
  struct Direct : Probe {
    using Probe::mousePressEvent;
    using Probe::mouseReleaseEvent;
  } c;
  c.SetMode(mButton);
  c.OnClick = [](QObject*) { throw std::runtime_error("port missing"); };
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  c.mousePressEvent(&press);
  EXPECT_THROW(c.mouseReleaseEvent(&release), std::runtime_error);
  EXPECT_FALSE(c.Pressed());
  EXPECT_FALSE(c.Checked());
}
