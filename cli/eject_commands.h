#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "cli/authorisation_watch.h"
#include "cli/exit_status.h"
#include "core/eject_engine.h"
#include "platform/linux/loop_dispatcher.h"

// eject VOLUME and eject-all, on this machine's volumes through the system ejector.
int ejectCommand(const std::vector<std::string>& options);
int ejectAllCommand(const std::vector<std::string>& options);

// Where the commands write: one line per result on out ("ejected NAME", "failed NAME: MESSAGE"),
// the reasons and what went wrong on err. With a watch, err also says when polkit refused
// because nobody could be asked for a password.
// With progress, err says after about a second what the ejection waits for; with
// interruptions (Ctrl-C presses), the first asks it to stop before its next step, the second
// ends the program at once.
struct CommandStreams {
  std::ostream& out;
  std::ostream& err;
  const AuthorisationWatch* unaskedAuthorisation = nullptr;
  EjectProgress* progress = nullptr;
  const std::atomic<int>* interruptions = nullptr;
};

// One result's line on out and its reason on err; the exit status it calls for.
int reportResult(const EjectEngine::EjectResult& result, const CommandStreams& streams);

// The same over any engine whose main queue is the dispatcher. The volume is given by its name,
// one of its mount paths (absolute or relative) or its device node; a path inside a volume is
// not the volume, and a word that names one volume and is the relative mount path of another
// is ambiguous.
int ejectVolume(EjectEngine& engine, LoopDispatcher& dispatcher, const std::string& volume,
                const CommandStreams& streams);
// Honours the eject settings as the desktop application does.
int ejectAllVolumes(EjectEngine& engine, LoopDispatcher& dispatcher, const CommandStreams& streams);
