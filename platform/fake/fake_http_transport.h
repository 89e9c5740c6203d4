#pragma once

#include <mutex>
#include <vector>

#include "platform/http_transport.h"

// Answers every request at once from the test's script and keeps what was sent. Any thread.
class FakeHttpTransport : public HttpTransport {
 public:
  // Every later request gets this answer; status 200 with an empty object until then.
  void answer(HttpResponse response);
  // The requests so far, forgotten here.
  std::vector<HttpRequest> takeRequests();

  HttpResponse send(const HttpRequest& request) override;

 private:
  std::mutex mutex_;
  HttpResponse answer_{
      .transferred = true, .status = 200, .body = "{}", .errorText = {}, .location = {}};
  std::vector<HttpRequest> requests_;
};
