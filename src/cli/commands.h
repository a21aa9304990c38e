#pragma once

#include "cli/arguments.h"

namespace trelvi::cli {

// Runs a checked command against the engine, reporting on the console;
// returns the program's exit status.
int RunCommand(const Arguments& args);

}  // namespace trelvi::cli
