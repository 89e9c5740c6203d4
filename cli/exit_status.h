#pragma once

// The exit statuses of the commands.
namespace exit_status {
inline constexpr int done = 0;
// An ejection was refused: the volume is busy, or the user was not authorised.
inline constexpr int refused = 1;
// No such volume, or a wrong command line.
inline constexpr int notFound = 2;
// Unmounted, so safe to unplug, but the drive was not powered off or the container not locked.
inline constexpr int partial = 3;
} // namespace exit_status
