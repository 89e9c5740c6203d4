#pragma once

#include <chrono>
#include <string>

struct HttpRequest {
  std::string url;
  std::string method = "POST";
  std::string body;
  std::chrono::milliseconds timeout{8000};
};

struct HttpResponse {
  // False on a transfer error or time-out; status and body are then meaningless.
  bool transferred = false;
  long status = 0;
  std::string body;
  std::string errorText;
};

// One HTTP exchange, no retry. Sets no header of its own.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;

  // Blocks until the answer or the time-out; never call it on the main thread.
  virtual HttpResponse send(const HttpRequest& request) = 0;
};
