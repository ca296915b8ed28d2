#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include "FarEnd.h"
#include "PtyTestSupport.h"

struct TFarEnd::TImpl {
  TPty pty;
};

TFarEnd::TFarEnd() : impl_(std::make_unique<TImpl>()) {}
TFarEnd::~TFarEnd() = default;
const std::string& TFarEnd::Path() const { return impl_->pty.Path(); }
void TFarEnd::Send(const std::vector<std::uint8_t>& bytes) const { impl_->pty.Send(bytes); }
std::vector<std::uint8_t> TFarEnd::Receive(std::size_t count, int timeoutMs) const {
  return impl_->pty.Receive(count, timeoutMs);
}
void TFarEnd::CloseMaster() { impl_->pty.CloseMaster(); }

bool TFarEnd::TrySend(const std::vector<std::uint8_t>& bytes) const {
  pollfd room{impl_->pty.Master(), POLLOUT, 0};
  if (::poll(&room, 1, 0) != 1 || !(room.revents & POLLOUT)) return false;
  return ::write(impl_->pty.Master(), bytes.data(), bytes.size()) > 0;
}

double ProcessCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
