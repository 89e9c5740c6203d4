#pragma once

#include <cstdint>
#include <string>

// A byte count for display, in decimal units as file sizes are shown: "512 bytes", "1 byte",
// "340 KB", "1.5 MB", "15.98 GB", "16 GB".
std::string formatByteCount(std::int64_t bytes);
