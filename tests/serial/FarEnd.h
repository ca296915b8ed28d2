#pragma once
// The far end of a serial line, where a test plays the device; the
// component opens Path(). A pseudo-terminal's master on POSIX systems, the
// server end of a named pipe on Windows (a line without modem lines or line
// settings, which the component takes as it takes a pseudo-terminal).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TFarEnd {
public:
  TFarEnd();
  ~TFarEnd();
  TFarEnd(const TFarEnd&) = delete;
  TFarEnd& operator=(const TFarEnd&) = delete;

  const std::string& Path() const;
  // Sends all the bytes, waiting for room as long as it takes (a line that
  // nobody has open drops them).
  void Send(const std::vector<std::uint8_t>& bytes) const;
  // Sends what the line takes now without waiting; false when it took nothing.
  bool TrySend(const std::vector<std::uint8_t>& bytes) const;
  // Reads until `count` bytes have come or `timeoutMs` has passed.
  std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs) const;
  // The device hangs up.
  void CloseMaster();

private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// CPU time this process has used so far, in seconds: a test's check that a wait does not spin.
double ProcessCpuSeconds();
