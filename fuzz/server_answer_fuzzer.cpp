// The maker's server answering a check or a problem report: any status, any body.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "core/settings_store.h"
#include "core/support/server_check.h"
#include "core/support/support_client.h"
#include "fuzz/fuzz_support.h"
#include "platform/fake/fake_http_transport.h"

namespace {

struct Rig {
  FakeHttpTransport server;
  SettingsStore defaults{fuzz_support::freshFolder("support") / "defaults.plist"};
  SupportClient client{SupportClient::Setup{server, defaults, "http://127.0.0.1:9/check",
                                            "http://127.0.0.1:9/report", "0.1.0",
                                            [] { return std::string("Linux 6.1"); }}};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Rig* rig = new Rig; // outlives exit-time code
  const auto text = fuzz_support::asText(data, size);

  HttpResponse answer;
  answer.transferred = true;
  answer.status = size > 0 ? 100 + data[0] * 2 : 200;
  answer.body = text;
  rig->server.answer(std::move(answer));
  rig->server.takeRequests();
  for (const auto& url : {rig->client.checkURL(), rig->client.reportURL()}) {
    const SupportAnswer answer =
        rig->client.send(url, rig->client.identityFields(), rig->client.checkTimeout());
    if (answer.object && !answer.object->is_object()) {
      fuzz_support::fail("an answer that is not a JSON object was taken for one");
    }
    if (answer.object) {
      // The check's own fields: the ticket state and a message on offer.
      if (const auto check = CheckAnswer::from(*answer.object)) {
        (void)check->offersMessage();
      }
    }
  }

  // Whatever came back can be sent on again, for instance quoted in a reply.
  if (const auto object = SupportClient::answerObject(text)) {
    const std::string body = SupportClient::encodeBody(*object);
    if (!nlohmann::json::accept(body)) {
      fuzz_support::fail("an answer re-encoded is no longer JSON");
    }
  }
  return 0;
}
