#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/http_transport.h"

class SettingsStore;

// What one request to the maker's server came back with.
struct SupportAnswer {
  // False on a transfer error or time-out; the rest is then empty.
  bool transferred = false;
  long status = 0;
  // The body when it is a JSON object; nothing for any other body.
  std::optional<nlohmann::json> object;
};

// The one object that talks to the maker's server: device identity, the identity strings, the
// endpoints, and one way to send a request and read its answer.
class SupportClient {
 public:
  struct PendingMessage {
    std::int64_t id = 0;
    std::string body;
  };

  // What a client works with. The program's is standardSetup(); tests bring their own server.
  struct Setup {
    HttpTransport& transport;
    SettingsStore& defaults;
    std::string checkURL;
    std::string reportURL;
    // The program's version as built; "?" is sent when it is empty.
    std::string version;
    // currentOsString() when empty.
    std::function<std::string()> osString;
    std::chrono::milliseconds checkTimeout{8000};
    std::chrono::milliseconds reportTimeout{10000};
  };

  // The program's client, created on first use from any thread: the shared transport the
  // application installs (SharedHttpTransport), the shared settings store, the built-in
  // endpoints and version.
  static SupportClient& shared();
  static Setup standardSetup();

  explicit SupportClient(Setup setup);
  SupportClient(const SupportClient&) = delete;
  SupportClient& operator=(const SupportClient&) = delete;

  // The stored identifier under "VEDeviceId", created and stored first when there is none.
  // The first creation is atomic: simultaneous first calls all get the same identifier.
  std::string deviceId();
  std::string osString() const;
  std::string version() const;
  // "d", "v" and "os": what every request of this client carries.
  nlohmann::json identityFields();

  // One POST of the compact body to the URL, no header of its own, no retry.
  SupportAnswer send(const std::string& url, const nlohmann::json& body,
                     std::chrono::milliseconds timeout);

  const std::string& checkURL() const { return checkURL_; }
  const std::string& reportURL() const { return setup_.reportURL; }
  std::chrono::milliseconds checkTimeout() const { return setup_.checkTimeout; }
  std::chrono::milliseconds reportTimeout() const { return setup_.reportTimeout; }
  SettingsStore& defaults() const { return setup_.defaults; }

  // Compact JSON; text that is not UTF-8 is sent with U+FFFD in its place.
  static std::string encodeBody(const nlohmann::json& body);
  // The answer when it is a top-level JSON object, else nothing; never throws.
  static std::optional<nlohmann::json> answerObject(std::string_view body);

  // In memory only: a message from the server not yet shown, and the last reported ticket
  // state. Read and written on the main thread.
  std::optional<PendingMessage> pendingMessage;
  std::string ticketState = "none";

 private:
  Setup setup_;
  const std::string checkURL_;
};
