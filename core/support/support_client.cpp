#include "core/support/support_client.h"

#include <algorithm>
#include <mutex>

#include "build_config.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "core/support/endpoints.h"
#include "core/support/identity.h"
#include "core/support/server_check.h"
#include "core/support/shared_http_transport.h"

namespace {

constexpr const char* deviceIdKey = setting_keys::deviceId.name;

} // namespace

SupportClient::Setup SupportClient::standardSetup(SettingsStore& defaults) {
  return Setup{.transport = SharedHttpTransport::instance(),
               .defaults = defaults,
               .checkURL = Endpoints::check(),
               .reportURL = Endpoints::report(),
               .version = build_config::version,
               .osString = {},
               .networkFeatures = build_config::networkFeatures};
}

SupportClient::SupportClient(Setup setup)
    : setup_(std::move(setup)), checkURL_(setup_.checkURL), dispatcher_(setup_.dispatcher) {}

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
  SupportAnswer answer;
  if (!setup_.networkFeatures) {
    return answer;
  }
  const HttpResponse response = setup_.transport.send(request);
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

SettingsValue::Date SupportClient::now() const {
  return setup_.now ? setup_.now() : std::chrono::system_clock::now();
}

void SupportClient::runInBackground(std::function<void()> work) {
  if (Dispatcher* dispatcher = dispatcher_.load()) {
    dispatcher->runInBackground(std::move(work));
  } else {
    work();
  }
}

void SupportClient::runOnMain(std::function<void()> work) {
  if (Dispatcher* dispatcher = dispatcher_.load()) {
    dispatcher->runOnMain(std::move(work));
  } else {
    work();
  }
}

nlohmann::json SupportClient::checkBody() {
  nlohmann::json body = identityFields();
  body["n"] = newRequestNonce();
  body["c"] = "direct";
  if (const auto acknowledged = ShownMessages::acknowledged(setup_.defaults)) {
    body["m"] = *acknowledged;
  }
  return body;
}

bool SupportClient::automaticContactAllowed(const SettingsStore& defaults) {
  return readBoolean(defaults, setting_keys::onboarded) &&
         readBoolean(defaults, setting_keys::automaticServerContact);
}

void SupportClient::checkWithServer(std::function<void()> completion) {
  if (!setup_.networkFeatures || !automaticContactAllowed(setup_.defaults)) {
    runOnMain([completion = std::move(completion)]() {
      if (completion) {
        completion();
      }
    });
    return;
  }
  runInBackground([this, completion = std::move(completion)]() mutable {
    SupportAnswer answer = send(checkURL_, checkBody(), setup_.checkTimeout);
    // The main thread reads the ticket state and the pending message at any time, so they
    // change only there.
    runOnMain([this, answer = std::move(answer), completion = std::move(completion)]() {
      applyCheckAnswer(answer);
      if (completion) {
        completion();
      }
    });
  });
}

void SupportClient::applyCheckAnswer(const SupportAnswer& answer) {
  // The status code is not looked at: a usable body is applied whatever it came with.
  if (!answer.transferred || !answer.object) {
    return;
  }
  const auto check = CheckAnswer::from(*answer.object);
  if (!check) {
    return;
  }
  ticketState_ = check->ticketState;
  if (!check->offersMessage()) {
    return;
  }
  const std::vector<std::int64_t> shown = ShownMessages::read(setup_.defaults);
  if (std::find(shown.begin(), shown.end(), check->messageId) != shown.end()) {
    return;
  }
  pendingMessage_ = PendingMessage{check->messageId, check->message};
}

void SupportClient::markMessageShown() {
  if (pendingMessage_) {
    markMessageShown(PendingMessage(*pendingMessage_));
  }
}

void SupportClient::markMessageShown(const PendingMessage& shown) {
  ShownMessages::record(setup_.defaults, shown.id);
  archive(shown.id, shown.body);
  if (pendingMessage_ && pendingMessage_->id == shown.id) {
    pendingMessage_.reset();
  }
}

std::vector<ArchivedMessage> SupportClient::messageHistory() const {
  return MessageHistory(setup_.defaults).entries(now());
}

void SupportClient::archive(std::int64_t id, const std::string& body) {
  MessageHistory(setup_.defaults).archive(id, body, now());
}

void SupportClient::archiveOwn(const std::string& text) {
  MessageHistory(setup_.defaults).archiveOwn(text, now());
}

nlohmann::json SupportClient::reportBody(const std::string& text,
                                         const std::optional<std::string>& email) {
  nlohmann::json body = identityFields();
  body["text"] = text;
  // Sent as typed: the server decides what an address is.
  if (email && !email->empty()) {
    body["email"] = *email;
  }
  return body;
}

bool SupportClient::reportAccepted(const SupportAnswer& answer) {
  if (!answer.transferred || answer.status != 200 || !answer.object) {
    return false;
  }
  const auto ok = answer.object->find("ok");
  if (ok == answer.object->end()) {
    return false;
  }
  if (ok->is_boolean()) {
    return ok->get<bool>();
  }
  // The numbers 1 and 0 read as Booleans too; other numbers and texts do not.
  if (ok->is_number()) {
    const double value = ok->get<double>();
    return value == 1.0;
  }
  return false;
}

bool SupportClient::reportProblem(const std::string& text,
                                  const std::optional<std::string>& email) {
  return reportAccepted(send(setup_.reportURL, reportBody(text, email), setup_.reportTimeout));
}

void SupportClient::reportProblem(const std::string& text, const std::optional<std::string>& email,
                                  std::function<void(bool accepted)> completion) {
  runInBackground([this, text, email, completion = std::move(completion)]() mutable {
    const bool accepted = reportProblem(text, email);
    runOnMain([accepted, completion = std::move(completion)]() {
      if (completion) {
        completion(accepted);
      }
    });
  });
}

void SupportClient::sendReply(const std::string& text,
                              std::function<void(bool accepted)> completion) {
  archiveOwn(text);
  const std::int64_t id = messageHistory().front().id;
  resendReply(ArchivedMessage{.id = id, .body = text, .date = now(), .mine = true, .sent = true},
              std::move(completion));
}

void SupportClient::resendReply(const ArchivedMessage& reply,
                                std::function<void(bool accepted)> completion) {
  reportProblem(reply.body, std::nullopt,
                [this, reply, completion = std::move(completion)](bool accepted) {
                  // Marked only when the state changes: the history is rewritten whole.
                  if (accepted != reply.sent) {
                    MessageHistory(setup_.defaults).markSent(reply.id, reply.body, accepted);
                  }
                  if (completion) {
                    completion(accepted);
                  }
                });
}
