#pragma once
// A port name that no port on this system has, in the system's own form.
#include <string>

std::string MissingPortName();
