// POSIX systems hand the arguments over as the bytes they were given.
#include "ProgramArguments.h"

TProgramArguments::TProgramArguments(int argc, char** argv) { Keep(std::vector<std::string>(argv, argv + argc)); }
