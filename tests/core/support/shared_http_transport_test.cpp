#include "core/support/shared_http_transport.h"

#include <gtest/gtest.h>

#include "platform/linux/curl_http_transport.h"
#include "tests/support/loopback_http_server.h"

namespace {

// Everything goes through one process-wide object, so the cases run in order in one test.
TEST(SharedHttpTransport, FailsUntilATransportIsInstalledThenForwardsToIt) {
  LoopbackHttpServer server;
  HttpRequest request;
  request.url = server.url("/eject/v1/check");
  request.body = R"({"d":"x"})";
  const HttpResponse before = SharedHttpTransport::instance().send(request);
  EXPECT_FALSE(before.transferred);
  EXPECT_FALSE(before.errorText.empty());
  EXPECT_TRUE(server.received().empty());
  static CurlHttpTransport curl;
  SharedHttpTransport::instance().install(curl);
  server.answer(200, R"({"ok":true})");
  const HttpResponse after = SharedHttpTransport::instance().send(request);
  EXPECT_TRUE(after.transferred);
  EXPECT_EQ(after.status, 200);
  EXPECT_EQ(after.body, R"({"ok":true})");
  ASSERT_EQ(server.received().size(), 1u);
  EXPECT_EQ(server.received().front().body, R"({"d":"x"})");
}

} // namespace
