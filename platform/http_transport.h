#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

struct HttpRequest {
  std::string url;
  std::string method = "POST";
  std::string body;
  std::chrono::milliseconds timeout{8000};
  // An open file the answer's body is written to instead of the response, for packages; it
  // may then be up to maxFileBytes long.
  int bodyFile = -1;
  std::uint64_t maxFileBytes = 0;
};

struct HttpResponse {
  // False on a transfer error, a time-out or an answer longer than its limit; status and
  // body are then meaningless.
  bool transferred = false;
  long status = 0;
  std::string body;
  std::string errorText;
  // Where a redirect points, made absolute; the transport itself never follows it.
  std::string location;
};

// One HTTP exchange, no retry, no redirect followed (a redirect comes back as the answer). Sets no
// header of its own, and lets the library add no content type either.
class HttpTransport {
 public:
  // No honest answer from the maker's servers comes near this; a longer one is cut off.
  static constexpr std::size_t maxAnswerBytes = 1024 * 1024;

  virtual ~HttpTransport() = default;

  // Blocks until the answer or the time-out; never call it on the main thread.
  virtual HttpResponse send(const HttpRequest& request) = 0;

  // At quit: ends every transfer under way within moments, and fails every later one at once.
  // Nothing to do for a transport that never waits.
  virtual void abortAll() {}
};
