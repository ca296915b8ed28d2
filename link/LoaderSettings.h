#pragma once
// The loader's stored port settings (SerialPort1 as the window keeps it).
#include "SerialPort.h"

// 38400 baud, 8N1, no flow control, DTR and RTS held low, reads wait at most 500 ms.
void ApplyStoredLoaderSettings(TCustomSerialPort& port);
