// One HTTP exchange for the desktop program: the request on standard input, the answer on
// standard output (see platform/linux/http_wire.h).
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/linux/curl_http_transport.h"
#include "platform/linux/http_wire.h"

int main() {
  std::string wire;
  char buffer[65536];
  for (;;) {
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count == 0) {
      break;
    }
    if (count < 0 && errno != EINTR) {
      return 1;
    }
    if (count > 0) {
      wire.append(buffer, static_cast<std::size_t>(count));
    }
  }
  HttpRequest request;
  if (!http_wire::decodeRequest(wire, request)) {
    return 2;
  }
  CurlHttpTransport transport;
  const std::string answer = http_wire::encodeResponse(transport.send(request));
  for (std::size_t sent = 0; sent < answer.size();) {
    const ssize_t count = ::write(STDOUT_FILENO, answer.data() + sent, answer.size() - sent);
    if (count < 0 && errno != EINTR) {
      return 1;
    }
    sent += count > 0 ? static_cast<std::size_t>(count) : 0;
  }
  return 0;
}
