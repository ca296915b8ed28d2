#include "SerialClasses.h"

void TSerialPersistent::NotifyChange() {
  if (UpdateCount_ == 0 && ChangeHandler_) ChangeHandler_(this);
}

void TSerialPersistent::ReleaseChanges() {
  if (UpdateCount_ > 0) --UpdateCount_;
  NotifyChange();
}

void TSerialPersistent::Assign(const TSerialPersistent& Source) { AssignError(Source); }

void TSerialPersistent::AssignError(const TSerialPersistent& Source) const {
  throw EAssignError(std::string("Cannot assign a ") + Source.ClassName() + " to a " + ClassName());
}

void TSerialPersistent::CopyHeld(const std::function<void()>& copy) {
  HoldChanges();
  try {
    copy();
  } catch (...) {
    ReleaseChanges();
    throw;
  }
  ReleaseChanges();
}
