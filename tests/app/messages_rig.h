#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/support/launcher_badge.h"
#include "core/settings_store.h"
#include "core/support/support_client.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/app/app_rig.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

// Remembers every state the taskbar badge was given.
class RecordingLauncherBadge : public LauncherBadge {
 public:
  void setUnread(bool unread) override { states.push_back(unread); }
  bool unread() const { return !states.empty() && states.back(); }

  std::vector<bool> states;
};

// The shell over fakes, with a support client of its own that talks to a real loopback server
// and runs its work on the engine's manual dispatcher.
struct MessagesRig {
  AppRig app;
  TemporaryFolder folder;
  SettingsStore store{folder / "defaults.plist"};
  LoopbackHttpServer server;
  CurlHttpTransport transport;
  RecordingLauncherBadge badge;
  std::unique_ptr<SupportClient> client;

  MessagesRig() {
    using namespace std::chrono_literals;
    client = std::make_unique<SupportClient>(
        SupportClient::Setup{.transport = transport,
                             .defaults = store,
                             .checkURL = server.url("/eject/v1/check"),
                             .reportURL = server.url("/eject/v1/report"),
                             .version = "1.4.2",
                             .osString = [] { return "Debian GNU/Linux 12"; },
                             .checkTimeout = 2s,
                             .reportTimeout = 2s,
                             .dispatcher = &app.engineRig.dispatcher});
  }

  ~MessagesRig() {
    app.delegate.reset();
    AppRig::flushEvents();
  }

  // Launches with the server giving `answer` to every request; the launch check is sent but
  // its answer waits for settle().
  AppDelegate& launch(const std::string& answer = offer("none", 0, "")) {
    server.answer(200, answer);
    app.make();
    app.delegate->supportService = client.get();
    app.delegate->launcherBadgeService = &badge;
    app.delegate->applicationDidFinishLaunching();
    AppRig::flushEvents();
    return *app.delegate;
  }

  void settle() { app.settle(); }

  void hideMainWindow() {
    app.delegate->mainWindow->hide();
    AppRig::flushEvents();
  }

  std::vector<LoopbackHttpServer::Received> requestsTo(const std::string& path) const {
    std::vector<LoopbackHttpServer::Received> result;
    for (const auto& received : server.received()) {
      if (received.path == path) {
        result.push_back(received);
      }
    }
    return result;
  }

  static std::string offer(const std::string& ticket, std::int64_t id, const std::string& text) {
    return nlohmann::json{{"tk", ticket}, {"mid", id}, {"msg", text}}.dump();
  }
};
