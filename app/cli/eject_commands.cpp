#include "app/cli/eject_commands.h"

#include <filesystem>
#include <iostream>
#include <optional>

#include "app/cli/linux_platform.h"
#include "app/cli/volume_listing.h"

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

// A path as typed ("./disk/", "/media/ana/../ana/DISK") in the form the engine lists it.
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

void printResult(const EjectEngine::EjectResult& result, std::ostream& out) {
  if (result.success) {
    out << "ejected " << printableText(result.volume.name) << "\n";
  } else {
    out << "failed " << printableText(result.volume.name) << ": "
        << printableText(result.message.value_or("")) << "\n";
  }
}

int usageError(const std::string& message, const std::string& usage) {
  std::cerr << "varnelo-eject: " << message << "\n"
            << "Usage: varnelo-eject " << usage << "\n";
  return 2;
}

} // namespace

int ejectVolume(EjectEngine& engine, LoopDispatcher& dispatcher, const std::string& nameOrPath,
                std::ostream& out, std::ostream& err) {
  const auto& volumes = engine.volumes();
  std::optional<EjectableVolume> chosen;
  if (nameOrPath.find('/') != std::string::npos) {
    for (const auto& form : pathForms(nameOrPath)) {
      for (const auto& volume : volumes) {
        if (!chosen && volume.id == form) {
          chosen = volume;
        }
      }
    }
  }
  if (!chosen) {
    std::vector<EjectableVolume> named;
    for (const auto& volume : volumes) {
      if (volume.name == nameOrPath) {
        named.push_back(volume);
      }
    }
    if (named.size() > 1) {
      err << "varnelo-eject: several volumes are named " << printableText(nameOrPath)
          << "; give the mount path of one of them:\n";
      for (const auto& volume : named) {
        err << "  " << printableText(volume.id) << "\n";
      }
      return 1;
    }
    if (named.size() == 1) {
      chosen = named.front();
    }
  }
  if (!chosen) {
    err << "varnelo-eject: no external volume is named or mounted at " << printableText(nameOrPath)
        << "\n";
    return 1;
  }

  std::optional<EjectEngine::EjectResult> outcome;
  engine.eject(*chosen,
               [&outcome](EjectEngine::EjectResult result) { outcome = std::move(result); });
  dispatcher.runUntil([&outcome] { return outcome.has_value(); });
  printResult(*outcome, out);
  return outcome->success ? 0 : 1;
}

int ejectAllVolumes(EjectEngine& engine, LoopDispatcher& dispatcher, std::ostream& out) {
  std::optional<std::vector<EjectEngine::EjectResult>> results;
  engine.ejectAll(
      [&results](std::vector<EjectEngine::EjectResult> batch) { results = std::move(batch); });
  dispatcher.runUntil([&results] { return results.has_value(); });
  if (results->empty()) {
    out << "nothing to eject\n";
    return 0;
  }
  bool allEjected = true;
  for (const auto& result : *results) {
    printResult(result, out);
    allEjected = allEjected && result.success;
  }
  return allEjected ? 0 : 1;
}

int ejectCommand(const std::vector<std::string>& options) {
  if (options.size() != 1 || options.front().empty()) {
    return usageError("eject takes one volume name or mount path", "eject NAME-OR-MOUNT-PATH");
  }
  LinuxPlatform platform;
  return ejectVolume(platform.engine(), platform.dispatcher(), options.front(), std::cout,
                     std::cerr);
}

int ejectAllCommand(const std::vector<std::string>& options) {
  if (!options.empty()) {
    return usageError("eject-all takes no arguments", "eject-all");
  }
  LinuxPlatform platform;
  return ejectAllVolumes(platform.engine(), platform.dispatcher(), std::cout);
}
