#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "platform/http_transport.h"

// Answers every request at once from the test's script and keeps what was sent. Any thread.
class FakeHttpTransport : public HttpTransport {
 public:
  // Status 200 with an empty object unless told otherwise.
  FakeHttpTransport();

  // Every later request gets this answer.
  void answer(HttpResponse response);
  // Every later request fails as a transfer error.
  void failEveryRequest();

  std::vector<HttpRequest> requests() const;
  // The requests so far, forgotten here.
  std::vector<HttpRequest> takeRequests();
  bool aborted() const;

  HttpResponse send(const HttpRequest& request) override;
  void abortAll() override;

 private:
  mutable std::mutex mutex_;
  HttpResponse answer_;
  std::vector<HttpRequest> requests_;
  bool aborted_ = false;
};
