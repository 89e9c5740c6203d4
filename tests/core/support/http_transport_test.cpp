#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/linux/child_process_http_transport.h"
#include "platform/linux/curl_http_transport.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace std::chrono_literals;

HttpRequest request(std::string url, std::string method = "POST", std::string body = {}) {
  HttpRequest request;
  request.url = std::move(url), request.method = std::move(method), request.body = std::move(body);
  return request;
}

// The same exchanges in this process and through the fetch program the desktop program uses.
class HttpTransportTest : public ::testing::TestWithParam<bool> {
 protected:
  LoopbackHttpServer server;
  std::unique_ptr<HttpTransport> transport =
      GetParam() ? std::unique_ptr<HttpTransport>(new ChildProcessHttpTransport(VARNELO_FETCH_PATH))
                 : std::make_unique<CurlHttpTransport>();
};

TEST_P(HttpTransportTest, AnswersComeBackWholeWithinTheirLimitsAndRedirectsUnfollowed) {
  const std::string bytes("binary\0\n{\xff}", 11);
  server.answer(201, bytes);
  HttpResponse response = transport->send(request(server.url("/r"), "POST", bytes));
  EXPECT_TRUE(response.transferred && response.status == 201 && response.body == bytes);
  EXPECT_EQ(server.received().at(0).body, bytes);
  server.route("/moved", {302, "", "/there"});
  response = transport->send(request(server.url("/moved"), "GET"));
  EXPECT_TRUE(response.status == 302 && response.location == server.url("/there"));
  EXPECT_EQ(server.received().size(), 2u) << "not followed";
  server.answer(200, std::string(HttpTransport::maxAnswerBytes + 1, 'a'));
  EXPECT_FALSE(transport->send(request(server.url("/r"))).transferred) << "over the limit";
  EXPECT_FALSE(transport->send(request("http://127.0.0.1:1/r")).transferred);
  // A package goes to the open file, up to its own limit.
  TemporaryFolder folder;
  const int file = ::open((folder / "package").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  server.answer(200, std::string(3 * HttpTransport::maxAnswerBytes, 'p'));
  HttpRequest download = request(server.url("/p"), "GET");
  download.bodyFile = file, download.maxFileBytes = 4 * HttpTransport::maxAnswerBytes;
  response = transport->send(download);
  EXPECT_TRUE(response.transferred && response.body.empty());
  EXPECT_EQ(::lseek(file, 0, SEEK_END), 3 * HttpTransport::maxAnswerBytes);
  ::close(file);
  server.setSilent(true);
  auto start = std::chrono::steady_clock::now();
  HttpRequest waiting = request(server.url("/r"));
  waiting.timeout = 300ms;
  EXPECT_FALSE(transport->send(waiting).transferred);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << "its own time-out";
  start = std::chrono::steady_clock::now();
  // Quitting ends an exchange under way within moments, and every later one at once.
  std::thread quit([&] { std::this_thread::sleep_for(200ms), transport->abortAll(); });
  EXPECT_FALSE(transport->send(request(server.url("/r"))).transferred);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
  quit.join();
  EXPECT_FALSE(transport->send(request(server.url("/r"))).transferred) << "after abortAll";
}

INSTANTIATE_TEST_SUITE_P(InProcessAndInTheFetchProgram, HttpTransportTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "FetchProgram" : "Curl"; });

} // namespace
