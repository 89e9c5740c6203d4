#pragma once

#include <atomic>

#include "platform/http_transport.h"

// The transport the program's own requests go through. The core cannot make a real one
// itself, so the application installs it at start; until then every request fails as a
// transfer error, which all callers already treat as "try again later".
class SharedHttpTransport : public HttpTransport {
 public:
  static SharedHttpTransport& instance();

  // The transport must live until the process ends.
  void install(HttpTransport& transport) { installed_.store(&transport); }

  HttpResponse send(const HttpRequest& request) override;
  void abortAll() override;

 private:
  std::atomic<HttpTransport*> installed_{nullptr};
};
