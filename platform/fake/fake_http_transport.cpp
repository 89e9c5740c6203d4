#include "platform/fake/fake_http_transport.h"

#include <utility>

void FakeHttpTransport::answer(HttpResponse response) {
  const std::lock_guard lock(mutex_);
  answer_ = std::move(response);
}

std::vector<HttpRequest> FakeHttpTransport::takeRequests() {
  const std::lock_guard lock(mutex_);
  return std::exchange(requests_, {});
}

HttpResponse FakeHttpTransport::send(const HttpRequest& request) {
  const std::lock_guard lock(mutex_);
  requests_.push_back(request);
  return answer_;
}
