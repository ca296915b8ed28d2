// A COM port past those a machine has (neither Windows nor Wine maps COM97).
#include "MissingPort.h"

std::string MissingPortName() { return "COM97"; }
