#include "core/support/support_client.h"

#include <mutex>

#include "build_config.h"
#include "core/settings_store.h"
#include "core/support/endpoints.h"
#include "core/support/identity.h"
#include "core/support/shared_http_transport.h"

namespace {

constexpr const char* deviceIdKey = "VEDeviceId";

} // namespace

SupportClient& SupportClient::shared() {
  // Never destroyed: requests on other threads may outlive main().
  static auto* client = new SupportClient(standardSetup());
  return *client;
}

SupportClient::Setup SupportClient::standardSetup() {
  return Setup{.transport = SharedHttpTransport::instance(),
               .defaults = SettingsStore::shared(),
               .checkURL = Endpoints::check(),
               .reportURL = Endpoints::report(),
               .version = build_config::version,
               .osString = {}};
}

SupportClient::SupportClient(Setup setup) : setup_(std::move(setup)), checkURL_(setup_.checkURL) {}

std::string SupportClient::deviceId() {
  // Shared by every client: they may share one store.
  static std::mutex creation;
  const std::lock_guard lock(creation);
  if (auto stored = setup_.defaults.string(deviceIdKey)) {
    return *stored;
  }
  std::string created = newUuidText();
  setup_.defaults.set(deviceIdKey, created);
  return created;
}

std::string SupportClient::osString() const {
  return setup_.osString ? setup_.osString() : currentOsString();
}

std::string SupportClient::version() const {
  return versionText(setup_.version);
}

nlohmann::json SupportClient::identityFields() {
  return nlohmann::json{{"d", deviceId()}, {"v", version()}, {"os", osString()}};
}

SupportAnswer SupportClient::send(const std::string& url, const nlohmann::json& body,
                                  std::chrono::milliseconds timeout) {
  HttpRequest request;
  request.url = url;
  request.method = "POST";
  request.body = encodeBody(body);
  request.timeout = timeout;
  const HttpResponse response = setup_.transport.send(request);
  SupportAnswer answer;
  if (!response.transferred) {
    return answer;
  }
  answer.transferred = true;
  answer.status = response.status;
  if (response.body.size() <= HttpTransport::maxAnswerBytes) {
    answer.object = answerObject(response.body);
  }
  return answer;
}

std::string SupportClient::encodeBody(const nlohmann::json& body) {
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<nlohmann::json> SupportClient::answerObject(std::string_view body) {
  nlohmann::json parsed = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!parsed.is_object()) {
    return std::nullopt;
  }
  return parsed;
}
