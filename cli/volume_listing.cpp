#include "cli/volume_listing.h"

#include "core/localization.h"

void printVolumeLines(const std::vector<EjectableVolume>& volumes, std::ostream& out) {
  for (const auto& volume : volumes) {
    std::string flags;
    if (volume.isDiskImage) {
      flags = L("cli.flag_disk_image");
    }
    // Only Time Machine's own disks are called that; others by the tool whose backups they hold.
    if (volume.isTimeMachine) {
      flags += (flags.empty() ? "" : ",") +
               (volume.backupKind.empty() || volume.backupKind == "time-machine"
                    ? L("cli.flag_time_machine")
                    : L("cli.flag_backup_kind", volume.backupKind));
    }
    // Its root could not be read, so it is protected like a backup disk.
    if (volume.backupUnknown) {
      flags += (flags.empty() ? "" : ",") + L("cli.flag_backup_unknown");
    }
    out << printableText(volume.name) << '\t'
        << (volume.sizeText.empty() ? "-" : printableText(volume.sizeText)) << '\t'
        << (flags.empty() ? "-" : printableText(flags)) << '\t'
        << printableText(volume.url.string()) << '\n';
  }
}

nlohmann::json volumesJson(const std::vector<EjectableVolume>& volumes) {
  auto array = nlohmann::json::array();
  for (const auto& volume : volumes) {
    array.push_back({{"id", volume.id},
                     {"name", volume.name},
                     {"sizeText", volume.sizeText},
                     {"isDiskImage", volume.isDiskImage},
                     {"isTimeMachine", volume.isTimeMachine},
                     {"backupKind", volume.backupKind},
                     {"backupUnknown", volume.backupUnknown},
                     {"mountPath", volume.url.string()},
                     {"device", volume.device},
                     {"mountPaths", volume.mountPaths}});
  }
  return array;
}

std::string volumesJsonText(const std::vector<EjectableVolume>& volumes) {
  return volumesJson(volumes).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
