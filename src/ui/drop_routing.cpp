#include "ui/drop_routing.h"

#include <filesystem>
#include <system_error>

#include "engine/utils.h"

namespace trelvi {

DropBand RouteDrop(int y, const BandExtent& input, const BandExtent& output) {
  if (input.Contains(y)) return DropBand::Input;
  if (output.Contains(y)) return DropBand::Output;
  return DropBand::None;
}

DropPlan PlanDrop(const std::vector<std::string>& items, bool multipleSelection,
                  int y, const BandExtent& input, const BandExtent& output,
                  const std::function<void()>& serviceEvents) {
  DropPlan plan;
  plan.Band = RouteDrop(y, input, output);
  if (items.empty()) return plan;
  const std::size_t considered = multipleSelection ? items.size() : 1;
  for (std::size_t i = 0; i < considered; ++i) {
    if (serviceEvents && i % 10 == 0) serviceEvents();
    const std::string& item = items[i];
    if (plan.Band == DropBand::Input) {
      if (FileExists(item)) plan.InputFiles.push_back(item);
    } else if (plan.Band == DropBand::Output) {
      std::error_code ec;
      if (std::filesystem::is_directory(item, ec)) {
        plan.OutputFolder = item;
        break;
      }
    }
  }
  return plan;
}

}  // namespace trelvi
