// The release feed as the updater downloads it, and the version texts in it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/updater.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body = fuzz_support::asText(data, size);
  if (const auto release = Updater::parseFeed(body)) {
    (void)Updater::compareVersions(release->version, "0.1.0");
    (void)Updater::compareVersions("0.1.0", release->version);
  }

  // The two halves as versions: comparing is antisymmetric whenever both are versions.
  const std::string left = body.substr(0, body.size() / 2);
  const std::string right = body.substr(body.size() / 2);
  const auto forward = Updater::compareVersions(left, right);
  const auto backward = Updater::compareVersions(right, left);
  if (forward.has_value() != backward.has_value() ||
      (forward && ((*forward < 0) != (*backward > 0) || (*forward == 0) != (*backward == 0)))) {
    fuzz_support::fail("comparing two versions is not antisymmetric");
  }
  return 0;
}
