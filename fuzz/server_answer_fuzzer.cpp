// The maker's server answering a check or a problem report: any status, any body.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_support.h"
#include "tests/core/support/message_client_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static MessageClientRig* rig = new MessageClientRig; // outlives exit-time code
  static SupportClient* client = rig->makeClient().release();
  const auto text = fuzz_support::asText(data, size);
  // Any final status (curl waits on past an informational one).
  rig->check(*client, text, size > 0 ? 200 + data[0] : 200);
  client->markMessageShown();
  (void)client->reportProblem("text", std::nullopt);
  rig->server.forget();

  // Whatever came back can be sent on again, for instance quoted in a reply.
  if (const auto object = SupportClient::answerObject(text)) {
    if (!object->is_object()) {
      fuzz_support::fail("an answer that is not a JSON object was taken for one");
    }
    if (!nlohmann::json::accept(SupportClient::encodeBody(*object))) {
      fuzz_support::fail("an answer re-encoded is no longer JSON");
    }
  }
  return 0;
}
