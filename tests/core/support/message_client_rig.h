#pragma once

#include <chrono>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "core/settings_store.h"
#include "core/support/support_client.h"
#include "platform/fake/manual_dispatcher.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/core/test_files.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

// A client with its own settings, loopback server, manual dispatcher and a settable clock; the
// tests and the fuzz targets share it.
struct MessageClientRig {
  TemporaryFolder folder;
  std::unique_ptr<SettingsStore> store = std::make_unique<SettingsStore>(folder / "defaults.plist");
  LoopbackHttpServer server;
  CurlHttpTransport transport;
  ManualDispatcher dispatcher;
  SettingsValue::Date clock =
      std::chrono::sys_days{std::chrono::year{2026} / 12 / 6} + std::chrono::hours{9};
  std::string version = "1.4.2";
  bool networkFeatures = true;

  // The first-launch question has been answered: automatic requests may go.
  MessageClientRig() { store->set(SupportClient::onboardedKey, true); }

  // Addresses left empty are the loopback server's.
  std::unique_ptr<SupportClient> makeClient(std::string checkURL = {}, std::string reportURL = {}) {
    return std::make_unique<SupportClient>(SupportClient::Setup{
        .transport = transport,
        .defaults = *store,
        .checkURL = checkURL.empty() ? server.url("/eject/v1/check") : std::move(checkURL),
        .reportURL = reportURL.empty() ? server.url("/eject/v1/report") : std::move(reportURL),
        .version = version,
        .osString = [] { return "Debian GNU/Linux 12"; },
        .dispatcher = &dispatcher,
        .now = [this] { return clock; },
        .networkFeatures = networkFeatures});
  }

  // One check with the server answering `status` and `body`, run to its end.
  void check(SupportClient& client, const std::string& body, int status = 200) {
    server.answer(status, body);
    client.checkWithServer();
    dispatcher.drainAll();
  }

  static std::string offer(const std::string& ticket, std::int64_t id, const std::string& text) {
    return nlohmann::json{{"tk", ticket}, {"mid", id}, {"msg", text}}.dump();
  }
};
