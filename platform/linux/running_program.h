#pragma once

#include <filesystem>

// The running program's own path, without the mark the kernel adds once its file has been
// replaced (an upgrade while it runs); empty when the system cannot tell.
std::filesystem::path runningProgramPath();
