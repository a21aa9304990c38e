#pragma once

#include <functional>
#include <string>
#include <vector>

namespace trelvi {

// Where a drop on the main window goes. Only the vertical coordinate of the
// drop point decides: the input band takes files, the output band takes a
// folder, everything else (mode buttons, mode panel, status line) ignores
// the drop.
enum class DropBand { None, Input, Output };

// The vertical extent of a band in the window's client coordinates.
struct BandExtent {
  int Top = 0;
  int Height = 0;
  bool Contains(int y) const { return y >= Top && y <= Top + Height - 1; }
};

DropBand RouteDrop(int y, const BandExtent& input, const BandExtent& output);

// What a drop hands to the window's input and output handlers.
struct DropPlan {
  DropBand Band = DropBand::None;
  // Existing files dropped on the input band, in drop order; at most one
  // (the first dropped item, when it is a file) in single selection.
  std::vector<std::string> InputFiles;
  // The first existing folder dropped on the output band; empty otherwise.
  std::string OutputFolder;
};

// Items that are not existing files (input band) or folders (output band)
// are skipped. Checking thousands of dropped tiles takes a while:
// serviceEvents, when given, runs before every tenth item (0, 10, 20...),
// so that the window keeps answering.
DropPlan PlanDrop(const std::vector<std::string>& items, bool multipleSelection,
                  int y, const BandExtent& input, const BandExtent& output,
                  const std::function<void()>& serviceEvents = {});

}  // namespace trelvi
