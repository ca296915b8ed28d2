#pragma once
// The loader window's start/stop switch, ColorButton4: its place in the
// window and every stored setting. The window, the switch's tests and the
// widget pictures all build it here, so what they check is what the window shows.
class TColorButton;

void ConfigureLoaderSwitch(TColorButton* button);
