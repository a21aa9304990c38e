#pragma once

#include <cstdint>
#include <string>

namespace trelvi {

// Size of the named file in bytes, -1 when there is no such file.
std::int64_t FileSizeByName(const std::string& fileName);

// True when the name denotes an existing regular file (or a link to one).
bool FileExists(const std::string& fileName);

// Decimal digits with "." between groups of three (at most four separators).
std::string FormatGrouped(std::int64_t value);

// The file-name part of a path; both '/' and '\' end the directory part.
std::string FileNamePart(const std::string& path);
// The directory part including its trailing separator; empty when none.
std::string DirectoryPart(const std::string& path);

// ASCII upper-casing: only 'a' to 'z' change.
std::string UpperAscii(std::string text);

}  // namespace trelvi
