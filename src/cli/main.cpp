#include <CLI/CLI.hpp>
#include <iostream>

#include "engine/trelvi.h"

int main(int argc, char** argv) {
  CLI::App app{
      "trelvi: convert, crop, resize, split and merge very large images"};
  app.set_version_flag("--version", std::string("trelvi ") + trelvi::kVersion);
  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  if (app.get_subcommands().empty()) {
    std::cout << app.help();
  }
  return 0;
}
