#include "LoaderSettings.h"

void ApplyStoredLoaderSettings(TCustomSerialPort& port) {
  port.SetBaudrate(br38400);
  TSerialFlowControl flow;
  flow.SetOutCtsFlow(false);
  flow.SetOutDsrFlow(false);
  flow.SetControlDtr(dtrDisabled);
  flow.SetControlRts(rtsDisabled);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  flow.SetDsrSensitivity(false);
  flow.SetTxContinueOnXoff(false);
  port.SetFlowControl(flow);
  port.SetDeviceName("COM1");
  port.Buffers().SetReadTimeout(500);
}
