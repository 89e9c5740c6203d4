#include "cli/volume_listing.h"

#include <sstream>

#include <gtest/gtest.h>

namespace {

TEST(VolumeListing, OneEscapedLinePerVolumeInListOrderAndTheJsonFields) {
  EjectableVolume image;
  image.id = image.url = "/media/me/Backup Disk";
  image.name = "Backup\nDisk\xe2\x80\xae";
  image.sizeText = "16 GB";
  image.isDiskImage = image.isTimeMachine = true;
  image.backupKind = "borg";
  EjectableVolume bare;
  bare.id = bare.url = "/media/caf\xe9";
  bare.name = "Stick";
  bare.backupUnknown = true;
  bare.device = "/dev/sdb1";
  bare.mountPaths = {bare.id, "/mnt/stick"};
  std::ostringstream out;
  printVolumeLines({image, bare}, out);
  EXPECT_EQ(out.str(),
            "Backup\\nDisk\\u202e\t16 GB\tdisk-image,borg-backup\t/media/me/Backup Disk\n"
            "Stick\t-\tmaybe-backup\t/media/caf\\xe9\n");

  EXPECT_EQ(volumesJsonText({}), "[]");
  // The fields themselves are read back from the command's own output by the discovery tests.
  const auto json = nlohmann::json::parse(volumesJsonText({image, bare}));
  ASSERT_EQ(json.size(), 2u);
  EXPECT_EQ(json[1]["mountPaths"][0], "/media/caf\xef\xbf\xbd");
}

} // namespace
