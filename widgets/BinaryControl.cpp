#include "BinaryControl.h"

#include "FlashClock.h"

#include <QMouseEvent>

namespace {

// One flag for the whole process: a propagation in progress does not start
// another, whichever group it is for. Touched on the user-interface thread only.
bool propagationRunning = false;

std::int32_t BitOf(std::int32_t bit) {
  return static_cast<std::int32_t>(std::uint32_t{1} << static_cast<unsigned>(bit));
}

bool BitSet(std::int32_t word, std::int32_t bit) {
  return ((static_cast<std::uint32_t>(word) >> static_cast<unsigned>(bit)) & 1u) != 0;
}

}  // namespace

std::uint32_t FlashMask(TFlashFreq frequency) {
  switch (frequency) {
    case ff8Hz: return 1;
    case ff4Hz: return 2;
    case ff2Hz: return 4;
    case ff1Hz: return 8;
    case ff05Hz: return 16;
  }
  return 8;
}

TBinaryControl::TBinaryControl(QWidget* owner) : QWidget(owner) { FlashClock::Instance().AutoStart(); }

TBinaryControl::~TBinaryControl() { FlashClock::Instance().UnregisterFlash(this); }

void TBinaryControl::UpdateFlashRegistration() {
  if (checked_ && flashing_)
    FlashClock::Instance().RegisterFlash(this, FlashMask(frequency_));
  else
    FlashClock::Instance().UnregisterFlash(this);
}

void TBinaryControl::SetChecked(bool value) {
  if (value == checked_) return;
  checked_ = value;
  UpdateFlashRegistration();
  const std::int32_t own = BitOf(statusBit_);
  if (checked_) {
    SetStatusInt(mode_ == mRadioButton ? own : (statusInt_ | own));
  } else if (mode_ != mRadioButton) {
    SetStatusInt(statusInt_ & ~own);
  }
  DrawStatus();
  if (OnStatusChanged) OnStatusChanged(this);
}

void TBinaryControl::SetStatusInt(std::int32_t value) {
  if (value == statusInt_) return;
  statusInt_ = value;
  SetChecked(BitSet(value, statusBit_));
  StatusIntChanged();
  if (OnStatusIntChanged) OnStatusIntChanged(this);
  if (groupIndex_ != 0 && !propagationRunning) PropagateToGroup();
}

void TBinaryControl::PropagateToGroup() {
  QWidget* owner = parentWidget();
  if (owner == nullptr) return;
  propagationRunning = true;
  try {
    const std::int32_t word = statusInt_;
    const std::int32_t group = groupIndex_;
    for (QObject* child : owner->children()) {
      auto* member = dynamic_cast<TBinaryControl*>(child);
      if (member != nullptr && member->groupIndex_ == group) member->SetStatusInt(word);
    }
  } catch (...) {
    propagationRunning = false;
    throw;
  }
  propagationRunning = false;
}

void TBinaryControl::AdoptGroupWord() {
  QWidget* owner = parentWidget();
  if (owner == nullptr) return;
  for (QObject* child : owner->children()) {
    auto* member = dynamic_cast<TBinaryControl*>(child);
    if (member != nullptr && member->groupIndex_ == groupIndex_) {
      SetStatusInt(member->statusInt_);
      return;
    }
  }
}

void TBinaryControl::SetStatusBit(std::int32_t value) {
  if (value == statusBit_ || value < 0 || value > 31) return;
  statusBit_ = value;
  SetChecked(BitSet(statusInt_, statusBit_));
}

void TBinaryControl::SetGroupIndex(std::int32_t value) {
  if (value == groupIndex_ || value < 0) return;
  groupIndex_ = value;
  if (groupIndex_ != 0) AdoptGroupWord();
  GroupIndexChanged();
}

void TBinaryControl::SetMode(TMode value) {
  mode_ = value;
  if (mode_ == mButton) SetStatusInt(0);
  if (mode_ == mRadioButton) SetStatusInt(1);
}

void TBinaryControl::SetFlashing(bool value) {
  if (value == flashing_) return;
  flashing_ = value;
  UpdateFlashRegistration();
  DrawStatus();
  if (OnStatusChanged) OnStatusChanged(this);
}

void TBinaryControl::SetFrequency(TFlashFreq value) {
  frequency_ = value;
  if (checked_ && flashing_) FlashClock::Instance().RegisterFlash(this, FlashMask(frequency_));
}

void TBinaryControl::PressStep() {
  pressChangedState_ = false;
  if (mode_ == mIndicator) return;
  const bool wasChecked = checked_;
  const std::int32_t wasWord = statusInt_;
  pressed_ = true;
  switch (mode_) {
    case mButton: SetChecked(true); break;
    case mSwitch: SetChecked(!checked_); break;
    case mRadioButton: SetStatusInt(BitOf(statusBit_)); break;
    case mIndicator: break;
  }
  pressChangedState_ = checked_ != wasChecked || statusInt_ != wasWord;
}

void TBinaryControl::ReleaseStep() {
  if (mode_ == mIndicator) return;
  pressed_ = false;
  if (mode_ == mButton) SetChecked(false);
  DrawStatus();
}

void TBinaryControl::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (event->button() != Qt::LeftButton) return;
  leftDown_ = true;
  doubleClickPress_ = false;
  PressStep();
}

void TBinaryControl::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt may deliver the second press of a double click as a press followed by
  // a double-click event, or as the double-click event alone; either way the
  // second press is handled once.
  const bool pressHandled = event->button() == Qt::LeftButton && leftDown_;
  if (!pressHandled) {
    const QPoint pos = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), pos.x(), pos.y());
    if (event->button() != Qt::LeftButton) return;
    leftDown_ = true;
    PressStep();
  }
  doubleClickPress_ = true;
  if (OnDblClick) OnDblClick(this);
}

void TBinaryControl::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const bool left = event->button() == Qt::LeftButton && leftDown_;
  if (left) {
    leftDown_ = false;
    const bool inside = rect().contains(pos);
    // A press that changed the state is always followed by its click, so
    // the click handler never misses a toggle: also after the second press
    // of a double click, and also when the pointer has left the control
    // (the switch has latched at the press and stays so). A button in
    // mButton mode falls back at the release, so leaving it cancels the
    // click as usual. A press that changed nothing keeps the usual rule.
    bool click;
    if (pressChangedState_)
      click = inside || mode_ != mButton;
    else
      click = inside && !doubleClickPress_;
    pressChangedState_ = false;
    if (click && OnClick) {
      try {
        OnClick(this);
      } catch (...) {
        // The control is released even when the handler fails.
        ReleaseStep();
        throw;
      }
    }
  }
  if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), pos.x(), pos.y());
  if (left) ReleaseStep();
}

void TBinaryControl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(this, event->modifiers(), pos.x(), pos.y());
}
