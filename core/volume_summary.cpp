// The one-line summary of the mounted volumes, shown by the main window and the tray tooltip.
#include <algorithm>
#include <cstdint>

#include "core/eject_engine.h"
#include "core/localization.h"

std::string EjectEngine::resume(const std::vector<EjectableVolume>& volumes) {
  const auto images = static_cast<std::int64_t>(
      std::count_if(volumes.begin(), volumes.end(), [](const auto& v) { return v.isDiskImage; }));
  const auto total = static_cast<std::int64_t>(volumes.size());
  // Time Machine volumes count as disks.
  const std::int64_t disks = total - images;

  if (total == 0) {
    return L("eject.no_volumes");
  }
  if (images == 0) {
    return L(disks < 2 ? "eject.volumes_connected_one" : "eject.volumes_connected_other", disks);
  }
  if (disks > 0) {
    const std::string disksText =
        L(disks < 2 ? "eject.count_disks_one" : "eject.count_disks_other", disks);
    const std::string imagesText =
        L(images == 1 ? "eject.count_images_one" : "eject.count_images_other", images);
    return L("eject.mixed_connected", disksText, imagesText);
  }
  return L(total != 1 ? "eject.images_mounted_other" : "eject.images_mounted_one", total);
}
