// trelvi: the command-line front end. It applies the same checks as the
// window and drives the same engine operations.
#include "cli/arguments.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
  trelvi::cli::Arguments args;
  if (const auto exitCode = trelvi::cli::ParseArguments(argc, argv, args))
    return *exitCode;
  return trelvi::cli::RunCommand(args);
}
