#include "ShotPorts.h"

std::shared_ptr<void> ShowDescribedAdapter(TForm1&) { return nullptr; }

std::string MissingPortName() { return "COM97"; }
