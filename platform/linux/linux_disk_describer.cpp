#include "platform/linux/linux_disk_describer.h"

#include <map>

namespace {

std::optional<std::string> protocolOfBus(const std::optional<std::string>& bus) {
  static const std::map<std::string, std::string> protocols = {
      {"usb", "USB"},       {"ata", "SATA"},          {"nvme", "NVMe"},
      {"mmc", "SD"},        {"ieee1394", "FireWire"}, {"thunderbolt", "Thunderbolt"},
      {"virtio", "VirtIO"}, {"scsi", "SCSI"}};
  if (!bus) {
    return std::nullopt;
  }
  const auto found = protocols.find(*bus);
  return found == protocols.end() ? std::nullopt : std::optional<std::string>(found->second);
}

} // namespace

LinuxDiskDescriber::LinuxDiskDescriber(LibmountVolumeSource& volumeSource)
    : volumeSource_(volumeSource) {}

std::optional<DiskDescription> LinuxDiskDescriber::describe(const std::string& mountPath) {
  const auto disk = volumeSource_.diskOf(mountPath);
  if (!disk) {
    return std::nullopt;
  }
  DiskDescription description;
  if (disk->isLoop) {
    description.deviceModel = "Disk Image";
    description.deviceProtocol = "Virtual Interface";
    return description;
  }
  description.deviceModel = disk->model;
  description.deviceProtocol = protocolOfBus(disk->bus);
  return description;
}
