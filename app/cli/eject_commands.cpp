#include "app/cli/eject_commands.h"

#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <optional>

#include "app/cli/command_line.h"
#include "app/cli/linux_platform.h"
#include "app/cli/polkit_text_agent.h"
#include "app/cli/volume_listing.h"
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

std::vector<std::string> mountPointsOf(const EjectableVolume& volume) {
  return volume.mountPaths.empty() ? std::vector<std::string>{volume.id} : volume.mountPaths;
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
      for (const auto& mountPoint : mountPointsOf(volume)) {
        if (mountPoint == form) {
          return volume;
        }
      }
    }
  }
  return std::nullopt;
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
  std::optional<EjectableVolume> chosen;
  if (looksLikePath) {
    chosen = volumeAtPath(volumes, typed);
  }
  if (!chosen) {
    std::vector<EjectableVolume> named;
    for (const auto& volume : volumes) {
      if (volume.name == typed) {
        named.push_back(volume);
      }
    }
    if (named.size() > 1) {
      streams.err << "varnelo-eject: " << printableText(L("cli.ambiguous_name", typed)) << "\n";
      for (const auto& volume : named) {
        streams.err << "  " << printableText(volume.id) << "\n";
      }
      return exit_status::notFound;
    }
    if (named.size() == 1) {
      chosen = named.front();
    }
  }
  if (!chosen && !looksLikePath) {
    // A mount point named relative to the working folder.
    chosen = volumeAtPath(volumes, typed);
  }
  if (!chosen) {
    streams.err << "varnelo-eject: " << printableText(L("cli.not_found", typed)) << "\n";
    return exit_status::notFound;
  }

  std::optional<EjectEngine::EjectResult> outcome;
  engine.eject(*chosen,
               [&outcome](EjectEngine::EjectResult result) { outcome = std::move(result); });
  dispatcher.runUntil([&outcome] { return outcome.has_value(); });
  const int status = reportResult(*outcome, streams);
  explainUnaskedAuthorisation(streams);
  return status;
}

int ejectAllVolumes(EjectEngine& engine, LoopDispatcher& dispatcher,
                    const CommandStreams& streams) {
  std::optional<std::vector<EjectEngine::EjectResult>> results;
  engine.ejectAll(
      [&results](std::vector<EjectEngine::EjectResult> batch) { results = std::move(batch); });
  dispatcher.runUntil([&results] { return results.has_value(); });
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
  LinuxPlatform platform;
  const auto agent = PolkitTextAgent::startForTerminal();
  return ejectVolume(platform.engine(), platform.dispatcher(), options.front(),
                     {std::cout, std::cerr, agent ? nullptr : &platform.authorisationWatch()});
}

int ejectAllCommand(const std::vector<std::string>& options) {
  if (!options.empty()) {
    return usageError(L("cli.eject_all_takes_none"));
  }
  LinuxPlatform platform;
  const auto agent = PolkitTextAgent::startForTerminal();
  return ejectAllVolumes(platform.engine(), platform.dispatcher(),
                         {std::cout, std::cerr, agent ? nullptr : &platform.authorisationWatch()});
}
