#include "core/support/endpoints.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "build_config.h"
#include "core/utf8_text.h"

namespace {

struct EndpointTexts {
  std::string check;
  std::string report;
  std::string crash;
};

std::string unscrambledEndpoint(std::span<const std::uint8_t> bytes, const char* name) {
  std::string text = Endpoints::unscramble(bytes, build_config::endpointMask);
  // The build checks the addresses, so this only fires on a broken build.
  if (!Endpoints::isUsableUrl(text)) {
    std::fprintf(stderr, "varnelo-eject: the %s endpoint of this build is not an address\n", name);
    std::abort();
  }
  return text;
}

const EndpointTexts& texts() {
  static std::once_flag once;
  static EndpointTexts* endpoints = nullptr;
  std::call_once(once, [] {
    endpoints = new EndpointTexts{unscrambledEndpoint(build_config::checkEndpoint, "check"),
                                  unscrambledEndpoint(build_config::reportEndpoint, "report"),
                                  unscrambledEndpoint(build_config::crashEndpoint, "crash")};
  });
  return *endpoints;
}

} // namespace

const std::string& Endpoints::check() {
  return texts().check;
}
const std::string& Endpoints::report() {
  return texts().report;
}
const std::string& Endpoints::crash() {
  return texts().crash;
}

std::string Endpoints::unscramble(std::span<const std::uint8_t> bytes,
                                  std::span<const std::uint8_t> mask) {
  std::string raw;
  raw.reserve(bytes.size());
  for (std::size_t index = 0; index < bytes.size(); ++index) {
    const std::uint8_t key = mask.empty() ? 0 : mask[index % mask.size()];
    raw += static_cast<char>(bytes[index] ^ key);
  }
  return replacingInvalidUtf8(raw);
}

bool Endpoints::isUsableUrl(std::string_view text) {
  std::string_view rest;
  if (text.starts_with("https://")) {
    rest = text.substr(8);
  } else if (text.starts_with("http://")) {
    rest = text.substr(7);
  } else {
    return false;
  }
  const std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
  if (host.empty() || host.front() == ':') {
    return false;
  }
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte <= 0x20 || byte == 0x7F) {
      return false;
    }
  }
  return true;
}
