#pragma once
// The on/off control base: one state tied to one bit of a status word that a
// group of controls can share, driven by the mouse in one of four modes, and
// able to flash from the process-wide flash clock.

#include <QObject>
#include <QWidget>

#include <cstdint>
#include <functional>

enum TFlashFreq : std::uint8_t { ff8Hz, ff4Hz, ff2Hz, ff1Hz, ff05Hz };
enum TMode : std::uint8_t { mButton, mSwitch, mIndicator, mRadioButton };

// Notification events take the sender first.
using TWidgetNotifyEvent = std::function<void(QObject* sender)>;
using TMouseEvent =
    std::function<void(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(QObject* sender, Qt::KeyboardModifiers shift, int x, int y)>;

// The flash clock's mask for a frequency: the counter bit whose value is the phase.
std::uint32_t FlashMask(TFlashFreq frequency);

// Base of the small settings objects (lamp, gradient, bevel) that tell their
// owner when they change.
class TWidgetSettings : public QObject {
public:
  TWidgetNotifyEvent OnChange;

  void Changed() {
    if (OnChange) OnChange(this);
  }
};

class TBinaryControl : public QWidget {
public:
  explicit TBinaryControl(QWidget* owner = nullptr);
  ~TBinaryControl() override;

  bool Checked() const { return checked_; }
  void SetChecked(bool value);

  TFlashFreq Frequency() const { return frequency_; }
  void SetFrequency(TFlashFreq value);

  bool Flashing() const { return flashing_; }
  void SetFlashing(bool value);

  std::int32_t StatusInt() const { return statusInt_; }
  void SetStatusInt(std::int32_t value);

  std::int32_t StatusBit() const { return statusBit_; }
  void SetStatusBit(std::int32_t value);

  std::int32_t GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(std::int32_t value);

  TMode Mode() const { return mode_; }
  void SetMode(TMode value);

  // True between a left press and its release in every mode but mIndicator.
  bool Pressed() const { return pressed_; }

  TWidgetNotifyEvent OnStatusChanged;
  TWidgetNotifyEvent OnStatusIntChanged;
  TWidgetNotifyEvent OnClick;
  TWidgetNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseEvent OnMouseUp;
  TMouseMoveEvent OnMouseMove;

  // Called by the flash clock on the user-interface thread.
  void DeliverFlashPhase(bool phase) { DrawFlashPhase(phase); }

  virtual void Redraw() {}
  virtual void DrawStatus() {}

protected:
  virtual void GroupIndexChanged() {}
  virtual void StatusIntChanged() {}
  virtual void DrawFlashPhase(bool /*phase*/) {}

  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

private:
  void UpdateFlashRegistration();
  void PressStep();
  void ReleaseStep();
  void PropagateToGroup();
  void AdoptGroupWord();

  bool checked_ = false;
  TFlashFreq frequency_ = ff1Hz;
  bool flashing_ = false;
  std::int32_t statusInt_ = 0;
  std::int32_t statusBit_ = 0;
  std::int32_t groupIndex_ = 0;
  TMode mode_ = mIndicator;
  bool pressed_ = false;

  // Whether the current left press changed the state, and whether it was
  // the second press of a double click: the release uses both to decide on
  // the click notification.
  bool pressChangedState_ = false;
  bool doubleClickPress_ = false;
  bool leftDown_ = false;
};
