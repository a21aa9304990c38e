#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/trelvi.h"

namespace trelvi::test {

// Describes and opens the file as the operations do.
bool OpenInput(TTrelvi& engine, const std::string& path);

// Reads the given rows of the file, in the given order, and compares each
// with the interleaved pixels (16-bit samples least significant byte first,
// as on this machine). No message may be shown on the way.
void ExpectRows(const std::string& path,
                const std::vector<std::uint8_t>& pixels,
                const std::vector<std::uint32_t>& rows);

// Rows first to the last row of the pixels, in order.
void ExpectRows(const std::string& path,
                const std::vector<std::uint8_t>& pixels,
                std::uint32_t first = 0);

}  // namespace trelvi::test
