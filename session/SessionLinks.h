#pragma once
// The session's two links to the outside world. The window implements the
// panes with its controls and the port with an adapter over its serial
// component; tools and tests bring their own.
#include <cstdint>
#include <string>
#include <vector>

// The serial port as the session uses it.
class ISessionPort {
public:
  virtual ~ISessionPort() = default;
  virtual void SetDeviceName(const std::string& name) = 0;
  virtual void Open() = 0;  // throws on failure
  // Closing a closed port does nothing. True when every byte written since
  // Open was handed to the device before it closed.
  virtual bool Close() = 0;
  virtual void SetDtrLine(bool value) = 0;
  // Bytes read into buffer (at most count); 0 when nothing was read.
  virtual int ReadBytes(std::uint8_t* buffer, int count) = 0;
  // Queues count bytes; throws when they cannot be accepted.
  virtual int WriteBytes(const std::uint8_t* buffer, int count) = 0;
};

// The window's panes as the session writes them.
class ISessionPanes {
public:
  virtual ~ISessionPanes() = default;
  virtual std::string SelectedPortName() const = 0;         // ComboBox1
  virtual void SetStatusText(const std::string& text) = 0;  // Label2
  virtual void ClearDebugLog() = 0;                         // Memo1
  virtual void AppendDebugLog(const std::string& line) = 0;
  virtual void SetCommandListing(std::vector<std::string> lines) = 0;  // Memo2: cleared, then these lines
  // Panes that only count the listing's lines are given as many empty ones:
  // its text, built at the start of each phase, would delay the load for nothing.
  virtual bool ShowsCommandListingText() const { return true; }
  virtual int CommandListingLineCount() const = 0;
  virtual void AppendTrafficLog(const std::string& line) = 0;  // Memo3
  virtual void SetLastResponse(const std::string& text) = 0;   // StaticText1
  virtual void SetLastCommand(const std::string& text) = 0;    // StaticText2
  virtual void SetGaugeMax(int value) = 0;                     // ProgressBar1.MaxValue
  virtual void SetGaugeProgress(int value) = 0;                // ProgressBar1.Progress (clamped by the gauge)
  virtual int GaugeProgress() const = 0;
  virtual void SetResponseLamp(bool on) = 0;   // LedIndicator1.Checked
  virtual bool SwitchChecked() const = 0;      // ColorButton4.Checked
  virtual void SetSwitchChecked(bool on) = 0;  // raises no click
};
