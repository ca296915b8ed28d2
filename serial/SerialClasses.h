#pragma once
// Bases of the serial port component and of its settings objects, and the
// component's exception classes.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// Every failure of the serial component: its message, and the system's error
// number where the failure came from the system (0 otherwise).
class ESerialPortError : public std::runtime_error {
public:
  explicit ESerialPortError(const std::string& message, int code = 0) : std::runtime_error(message), Code_(code) {}
  int Code() const { return Code_; }

private:
  int Code_;
};

// Assign from an object of an unrelated class ("Cannot assign a X to a Y").
class EAssignError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A worker thread that could not be created ("Thread creation error: %s").
class EThread : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Base of the component. Owned by its form; not copyable.
class TSerialComponent {
public:
  TSerialComponent() = default;
  TSerialComponent(const TSerialComponent&) = delete;
  TSerialComponent& operator=(const TSerialComponent&) = delete;
  virtual ~TSerialComponent() = default;

  // Called once the component has been configured with its stored values.
  virtual void Loaded() {}
  // Called when a component this one refers to is being destroyed.
  virtual void Notification(const void* component) { (void)component; }
};

// Base of the grouped settings. A change calls ChangeHandler (sender: this
// object) unless changes are being held; releasing the last hold notifies once.
class TSerialPersistent {
public:
  using TChangeHandler = std::function<void(TSerialPersistent* Sender)>;

  TSerialPersistent() = default;
  TSerialPersistent(const TSerialPersistent&) = delete;
  TSerialPersistent& operator=(const TSerialPersistent&) = delete;
  virtual ~TSerialPersistent() = default;

  void SetChangeHandler(TChangeHandler handler) { ChangeHandler_ = std::move(handler); }
  std::int32_t UpdateCount() const { return UpdateCount_; }

  void NotifyChange();
  void HoldChanges() { ++UpdateCount_; }
  void ReleaseChanges();

  // Copies every property from Source when it is of this class or derived
  // from it (one notification for the whole copy); throws EAssignError otherwise.
  virtual void Assign(const TSerialPersistent& Source);
  virtual const char* ClassName() const = 0;

protected:
  [[noreturn]] void AssignError(const TSerialPersistent& Source) const;
  // Runs `copy` with changes held: one notification follows, also when a step raises.
  void CopyHeld(const std::function<void()>& copy);

private:
  std::int32_t UpdateCount_ = 0;
  TChangeHandler ChangeHandler_;
};
