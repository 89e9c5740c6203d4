#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/settings.h"
#include "core/settings_value.h"
#include "core/support/message_history.h"
#include "platform/dispatcher.h"
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
    std::string version = {};
    // currentOsString() when empty.
    std::function<std::string()> osString = {};
    std::chrono::milliseconds checkTimeout{8000};
    std::chrono::milliseconds reportTimeout{10000};
    // Where checks and reports run and hand their results back; see setDispatcher().
    Dispatcher* dispatcher = nullptr;
    // The time entries are archived at; the system clock when empty.
    std::function<SettingsValue::Date()> now = {};
    // False in a build without network features: no request is ever sent.
    bool networkFeatures = true;
  };

  // The program's set-up: the shared transport the application installs (SharedHttpTransport),
  // the program's settings store, the built-in endpoints and version.
  static Setup standardSetup(SettingsStore& defaults);

  explicit SupportClient(Setup setup);
  SupportClient(const SupportClient&) = delete;
  SupportClient& operator=(const SupportClient&) = delete;

  // One POST of the compact body to the URL, no header of its own, no retry.
  SupportAnswer send(const std::string& url, const nlohmann::json& body,
                     std::chrono::milliseconds timeout);

  // Whether requests the user did not ask for may go out: the first-launch question has been
  // answered ("VEOnboarded"; a settings file set aside as damaged reads as a fresh install)
  // and automatic server contact is not switched off.
  static bool automaticContactAllowed(const SettingsStore& defaults);
  static constexpr const char* onboardedKey = setting_keys::onboarded.name;

  // Compact JSON; text that is not UTF-8 is sent with U+FFFD in its place.
  static std::string encodeBody(const nlohmann::json& body);
  // The answer when it is a top-level JSON object, else nothing; never throws.
  static std::optional<nlohmann::json> answerObject(std::string_view body);

  // The application hands its dispatcher over at start. Without one, checks and reports run
  // on the calling thread and call back from there.
  void setDispatcher(Dispatcher* dispatcher) { dispatcher_.store(dispatcher); }

  // The server check: sent from the background queue; its answer is applied on the main queue,
  // where `completion` then runs, whether or not anything changed. Never fails to its caller.
  // Sends nothing when the user turned automatic server contact off.
  void checkWithServer(std::function<void()> completion = {});
  // A message from the server not yet shown, and whether the last check reported an open
  // ticket. Main thread only.
  const std::optional<PendingMessage>& pendingMessage() const { return pendingMessage_; }
  bool ticketOpen() const { return ticketState_ == "open"; }
  // Records the pending message as shown and acknowledged, archives it and clears it; nothing
  // without a pending message. Main thread only.
  void markMessageShown();
  // The same for a message the user has read while a newer one may have arrived: `shown` is
  // recorded, and the pending message stays when it is another one.
  void markMessageShown(const PendingMessage& shown);

  // The conversation, newest first. Main thread only.
  std::vector<ArchivedMessage> messageHistory() const;

  // One problem report or reply; true only when the server answered 200 with "ok" true.
  // Always sent when the user asks, whatever the automatic-contact switch says.
  // Blocks until the answer: never call it on the main thread.
  bool reportProblem(const std::string& text, const std::optional<std::string>& email);
  // The same from the background queue, with the result handed to `completion` on the main
  // queue. Each call is a task of its own.
  void reportProblem(const std::string& text, const std::optional<std::string>& email,
                     std::function<void(bool accepted)> completion);
  // A reply from the messages window: archived at once, then sent without an address. When it
  // does not reach the server it is marked as not sent in the history; `completion` gets the
  // result on the main queue.
  void sendReply(const std::string& text, std::function<void(bool accepted)> completion);
  // Sends a reply marked as not sent once more; on success the mark goes.
  void resendReply(const ArchivedMessage& reply, std::function<void(bool accepted)> completion);

 private:
  // The stored identifier under "VEDeviceId", created and stored first when there is none.
  // The first creation is atomic: simultaneous first calls all get the same identifier.
  std::string deviceId();
  std::string osString() const;
  std::string version() const;
  // "d", "v" and "os": what every request of this client carries.
  nlohmann::json identityFields();

  // "n", "d", "v", "os", "c", and "m" when a message has been acknowledged.
  nlohmann::json checkBody();
  // Ticket state and offered message from one check's answer; main thread only.
  void applyCheckAnswer(const SupportAnswer& answer);
  // The conversation's two ways to grow. Main thread only.
  void archive(std::int64_t id, const std::string& body);
  void archiveOwn(const std::string& text);
  // "d", "v", "os", "text", and "email" when one is given and not empty.
  nlohmann::json reportBody(const std::string& text, const std::optional<std::string>& email);
  // Whether a report's answer counts as accepted.
  static bool reportAccepted(const SupportAnswer& answer);
  SettingsValue::Date now() const;
  // The dispatcher's queues; the calling thread, at once, without a dispatcher.
  void runInBackground(std::function<void()> work);
  void runOnMain(std::function<void()> work);

  Setup setup_;
  const std::string checkURL_;
  std::atomic<Dispatcher*> dispatcher_;
  // In memory only, read and written on the main thread.
  std::optional<PendingMessage> pendingMessage_;
  std::string ticketState_ = "none";
};
