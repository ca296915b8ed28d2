#pragma once
// Runs Qt's event loop as the application does (blocking for events, no
// sleeping between rounds) until done() holds or the time is up. For tests,
// benchmarks and tools that drive the window from the outside.
#include <functional>

bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs);
