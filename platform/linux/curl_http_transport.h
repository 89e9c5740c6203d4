#pragma once

#include "platform/http_transport.h"

// HTTP over libcurl: one easy handle per exchange, so any thread may send at any time.
class CurlHttpTransport : public HttpTransport {
 public:
  CurlHttpTransport();

  HttpResponse send(const HttpRequest& request) override;
};
