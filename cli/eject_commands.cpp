#include "cli/eject_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include <filesystem>
#include <iostream>
#include <optional>

#include "cli/command_line.h"
#include "cli/linux_platform.h"
#include "cli/polkit_text_agent.h"
#include "cli/volume_listing.h"
#include "core/localization.h"

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

// A path as typed ("./disk/", "Stick", "/media/ana/../ana/DISK") in the forms the engine may
// list it under.
std::vector<std::string> pathForms(const std::string& typed) {
  namespace fs = std::filesystem;
  std::vector<std::string> forms{withoutTrailingSlashes(typed)};
  std::error_code error;
  const fs::path absolute = fs::absolute(typed, error);
  if (!error) {
    forms.push_back(withoutTrailingSlashes(absolute.lexically_normal().string()));
  }
  const fs::path canonical = fs::canonical(typed, error);
  if (!error) {
    forms.push_back(canonical.string());
  }
  return forms;
}

// Whether the block device node names the volume's device: by its recorded device, else by the
// device its mount point lives on.
bool onDevice(const EjectableVolume& volume, dev_t device) {
  struct stat status {};
  if (!volume.device.empty()) {
    return ::stat(volume.device.c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
           status.st_rdev == device;
  }
  return ::stat(volume.id.c_str(), &status) == 0 && status.st_dev == device;
}

std::optional<EjectableVolume> volumeAtPath(const std::vector<EjectableVolume>& volumes,
                                            const std::string& typed) {
  struct stat status {};
  if (::stat(typed.c_str(), &status) == 0 && S_ISBLK(status.st_mode)) {
    for (const auto& volume : volumes) {
      if (onDevice(volume, status.st_rdev)) {
        return volume;
      }
    }
    return std::nullopt;
  }
  for (const auto& form : pathForms(typed)) {
    for (const auto& volume : volumes) {
      for (const auto& mountPoint : volume.mountPoints()) {
        if (mountPoint == form) {
          return volume;
        }
      }
    }
  }
  return std::nullopt;
}

std::atomic<int> interruptions = 0;

void countInterruption(int /*signal*/) {
  ++interruptions;
}

std::string waitingText(const EjectProgress::Wait& wait) {
  using Step = EjectProgress::Step;
  switch (wait.step) {
  case Step::answer:
    return L("cli.waiting_udisks");
  case Step::unmount:
    return L("cli.waiting_unmount", wait.subject);
  case Step::lock:
    return L("cli.waiting_lock", wait.subject);
  case Step::detachLoop:
    return L("cli.waiting_detach", wait.subject);
  case Step::powerOff:
    return L("cli.waiting_power_off", wait.subject);
  case Step::none:
    break;
  }
  return {};
}

// Runs the main queue until done, saying what a long wait is for and heeding Ctrl-C.
void waitUntil(LoopDispatcher& dispatcher, const std::function<bool()>& done,
               const CommandStreams& streams) {
  if (streams.progress == nullptr) {
    dispatcher.runUntil(done);
    return;
  }
  std::atomic<bool> finished = false;
  int ticks = 0;
  std::string said;
  int interruptionsSeen = 0;
  std::thread clock([&] {
    while (!finished) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      dispatcher.runOnMain([] {});
    }
  });
  dispatcher.runUntil([&] {
    if (done()) {
      return true;
    }
    const std::string waiting = waitingText(streams.progress->waiting());
    if (++ticks >= 10 && !waiting.empty() && waiting != said) {
      streams.err << "varnelo-eject: " << printableText(waiting) << "\n" << std::flush;
      said = waiting;
    }
    const int pressed = streams.interruptions != nullptr ? streams.interruptions->load() : 0;
    if (pressed > interruptionsSeen) {
      interruptionsSeen = pressed;
      streams.progress->requestStop();
      streams.err << "varnelo-eject: "
                  << printableText(L(pressed > 1 ? "cli.ended" : "cli.stopping")) << "\n"
                  << std::flush;
      if (pressed > 1) {
        streams.out.flush();
        _exit(exit_status::refused);
      }
    }
    return false;
  });
  finished = true;
  clock.join();
}

void explainUnaskedAuthorisation(const CommandStreams& streams) {
  if (streams.unaskedAuthorisation != nullptr && streams.unaskedAuthorisation->sawRefusal()) {
    streams.err << "varnelo-eject: " << printableText(L("cli.no_authentication_agent")) << "\n";
  }
}

} // namespace

int reportResult(const EjectEngine::EjectResult& result, const CommandStreams& streams) {
  const std::string& name = result.volume.name;
  const std::string message = result.message.value_or("");
  int status = exit_status::done;
  if (!result.success) {
    streams.out << printableText(L("cli.failed", name, message)) << "\n";
    status = exit_status::refused;
  } else if (result.partial) {
    streams.out << printableText(message.empty() ? L("cli.unmounted", name)
                                                 : L("cli.unmounted_partly", name, message))
                << "\n";
    status = exit_status::partial;
  } else {
    streams.out << printableText(L("cli.ejected", name)) << "\n";
  }
  if (!result.detail.empty()) {
    streams.err << "varnelo-eject: " << printableText(name) << ": " << printableText(result.detail)
                << "\n";
  }
  return status;
}

int ejectVolume(EjectEngine& engine, LoopDispatcher& dispatcher, const std::string& typed,
                const CommandStreams& streams) {
  const auto& volumes = engine.volumes();
  const bool looksLikePath = typed.find('/') != std::string::npos;
  std::vector<EjectableVolume> candidates;
  if (looksLikePath) {
    if (auto atPath = volumeAtPath(volumes, typed)) {
      candidates.push_back(*atPath);
    }
  }
  if (candidates.empty()) {
    for (const auto& volume : volumes) {
      if (volume.name == typed) {
        candidates.push_back(volume);
      }
    }
    // A mount point named relative to the working folder, maybe another volume's name too.
    const auto atPath = looksLikePath ? std::nullopt : volumeAtPath(volumes, typed);
    if (atPath && std::none_of(candidates.begin(), candidates.end(),
                               [&](const auto& named) { return named.id == atPath->id; })) {
      candidates.push_back(*atPath);
    }
  }
  if (candidates.size() > 1) {
    streams.err << "varnelo-eject: " << printableText(L("cli.ambiguous_name", typed)) << "\n";
    for (const auto& volume : candidates) {
      streams.err << "  " << printableText(volume.id) << "\n";
    }
    return exit_status::notFound;
  }
  if (candidates.empty()) {
    streams.err << "varnelo-eject: " << printableText(L("cli.not_found", typed)) << "\n";
    return exit_status::notFound;
  }
  const std::optional<EjectableVolume> chosen = candidates.front();

  std::optional<EjectEngine::EjectResult> outcome;
  engine.eject(*chosen,
               [&outcome](EjectEngine::EjectResult result) { outcome = std::move(result); });
  waitUntil(
      dispatcher, [&outcome] { return outcome.has_value(); }, streams);
  const int status = reportResult(*outcome, streams);
  explainUnaskedAuthorisation(streams);
  return status;
}

int ejectAllVolumes(EjectEngine& engine, LoopDispatcher& dispatcher,
                    const CommandStreams& streams) {
  std::optional<std::vector<EjectEngine::EjectResult>> results;
  engine.ejectAll(
      [&results](std::vector<EjectEngine::EjectResult> batch) { results = std::move(batch); });
  waitUntil(
      dispatcher, [&results] { return results.has_value(); }, streams);
  if (results->empty()) {
    streams.out << printableText(L("cli.nothing_to_eject")) << "\n";
    return exit_status::done;
  }
  int status = exit_status::done;
  for (const auto& result : *results) {
    const int resultStatus = reportResult(result, streams);
    // A refusal outweighs a drive left powered.
    if (status != exit_status::refused && resultStatus != exit_status::done) {
      status = resultStatus;
    }
  }
  explainUnaskedAuthorisation(streams);
  return status;
}

int ejectCommand(const std::vector<std::string>& options) {
  if (options.size() != 1 || options.front().empty()) {
    return usageError(L("cli.eject_takes_one"));
  }
  const auto progress = std::make_shared<EjectProgress>();
  LinuxPlatform platform(progress);
  const auto agent = PolkitTextAgent::startForTerminal();
  std::signal(SIGINT, countInterruption);
  return ejectVolume(platform.engine(), platform.dispatcher(), options.front(),
                     {std::cout, std::cerr, agent ? nullptr : &platform.authorisationWatch(),
                      progress.get(), &interruptions});
}

int ejectAllCommand(const std::vector<std::string>& options) {
  if (!options.empty()) {
    return usageError(L("cli.eject_all_takes_none"));
  }
  const auto progress = std::make_shared<EjectProgress>();
  LinuxPlatform platform(progress);
  const auto agent = PolkitTextAgent::startForTerminal();
  std::signal(SIGINT, countInterruption);
  return ejectAllVolumes(platform.engine(), platform.dispatcher(),
                         {std::cout, std::cerr, agent ? nullptr : &platform.authorisationWatch(),
                          progress.get(), &interruptions});
}
