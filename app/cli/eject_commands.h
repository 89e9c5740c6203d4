#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/cli/authorisation_watch.h"
#include "core/eject_engine.h"
#include "platform/linux/loop_dispatcher.h"

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

// eject VOLUME and eject-all, on this machine's volumes through the system ejector.
int ejectCommand(const std::vector<std::string>& options);
int ejectAllCommand(const std::vector<std::string>& options);

// Where the commands write: one line per result on out ("ejected NAME", "failed NAME: MESSAGE"),
// the reasons and what went wrong on err. With a watch, err also says when polkit refused
// because nobody could be asked for a password.
struct CommandStreams {
  std::ostream& out;
  std::ostream& err;
  const AuthorisationWatch* unaskedAuthorisation = nullptr;
};

// One result's line on out and its reason on err; the exit status it calls for.
int reportResult(const EjectEngine::EjectResult& result, const CommandStreams& streams);

// The same over any engine whose main queue is the dispatcher. The volume is given by its name,
// one of its mount paths (absolute or relative) or its device node; a path inside a volume is
// not the volume.
int ejectVolume(EjectEngine& engine, LoopDispatcher& dispatcher, const std::string& volume,
                const CommandStreams& streams);
// Honours the eject settings as the desktop application does.
int ejectAllVolumes(EjectEngine& engine, LoopDispatcher& dispatcher, const CommandStreams& streams);
