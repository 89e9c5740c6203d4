#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "core/eject_engine.h"
#include "platform/linux/loop_dispatcher.h"

// eject NAME-OR-MOUNT-PATH and eject-all, on this machine's volumes through the system
// ejector. The exit status: 0 when everything asked for was ejected, 1 when an ejection
// failed or the volume was not found, 2 for a wrong command line.
int ejectCommand(const std::vector<std::string>& options);
int ejectAllCommand(const std::vector<std::string>& options);

// The same over any engine whose main queue is the dispatcher: one line per result on out
// ("ejected NAME", "failed NAME: MESSAGE"), a volume not found on err.
int ejectVolume(EjectEngine& engine, LoopDispatcher& dispatcher, const std::string& nameOrPath,
                std::ostream& out, std::ostream& err);
// Honours the eject settings as the desktop application does; "nothing to eject" when the
// settings leave nothing.
int ejectAllVolumes(EjectEngine& engine, LoopDispatcher& dispatcher, std::ostream& out);
