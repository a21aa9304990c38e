#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/trelvi.h"

namespace trelvi::test {

// Binds the five hooks of an engine the way the window does (a progress
// start clears Aborted) and records what they receive.
struct HookRecorder {
  explicit HookRecorder(TTrelvi& engine) {
    engine.OnError = [this](const std::string& m) { Errors.push_back(m); };
    engine.OnStatus = [this](const std::string& m) { Statuses.push_back(m); };
    engine.OnShowProgress = [this, &engine](std::int32_t max,
                                            const std::string& desc) {
      ProgressMax = max;
      Descriptions.push_back(desc);
      engine.Aborted = false;
    };
    engine.OnUpdateProgress = [this, &engine](std::int32_t current) {
      Progress.push_back(current);
      if (AbortAtProgress && Progress.size() == AbortAtProgress)
        engine.Aborted = true;
      if (OnProgress) OnProgress(current);
    };
    engine.OnHideProgress = [this] { ++Hides; };
  }

  std::vector<std::string> Errors;
  std::vector<std::string> Statuses;
  std::vector<std::string> Descriptions;
  std::vector<std::int32_t> Progress;
  std::int32_t ProgressMax = -1;
  int Hides = 0;
  // Sets Aborted, as a confirmed Abort does, at the n-th progress report.
  std::size_t AbortAtProgress = 0;
  std::function<void(std::int32_t)> OnProgress;
};

}  // namespace trelvi::test
