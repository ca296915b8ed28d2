#pragma once
// What the window tells a user who can do something about a port that would
// not open: the Russian words for a diagnosed port problem.
#include <QString>

#include "PortProblem.h"

// `name` is the port as chosen ("COM1", "/dev/ttyUSB0"). Empty when there
// is nothing the user can do.
QString PortHintText(const std::string& name, const TPortProblem& problem);
