#pragma once
// What the screenshots show of the system's ports: a described adapter in the
// port list where the list can be faked, and a port name that is not there.
#include <memory>
#include <string>

class TForm1;

// Puts a described USB adapter into the form's port list; what it returns
// keeps the adapter there. Where the list cannot be faked, the system's own
// ports are shown.
std::shared_ptr<void> ShowDescribedAdapter(TForm1& form);

// A port of this system's naming that does not exist.
std::string MissingPortName();
