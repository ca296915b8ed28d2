// A device file that does not exist.
#include "MissingPort.h"

std::string MissingPortName() { return "/dev/qv-missing"; }
