#include "platform/fake/fake_http_transport.h"

#include <utility>

FakeHttpTransport::FakeHttpTransport() {
  answer_.transferred = true;
  answer_.status = 200;
  answer_.body = "{}";
}

void FakeHttpTransport::answer(HttpResponse response) {
  const std::lock_guard lock(mutex_);
  answer_ = std::move(response);
}

void FakeHttpTransport::failEveryRequest() {
  HttpResponse failure;
  failure.errorText = "no server";
  answer(std::move(failure));
}

std::vector<HttpRequest> FakeHttpTransport::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<HttpRequest> FakeHttpTransport::takeRequests() {
  const std::lock_guard lock(mutex_);
  return std::exchange(requests_, {});
}

bool FakeHttpTransport::aborted() const {
  const std::lock_guard lock(mutex_);
  return aborted_;
}

HttpResponse FakeHttpTransport::send(const HttpRequest& request) {
  const std::lock_guard lock(mutex_);
  requests_.push_back(request);
  if (aborted_) {
    HttpResponse failure;
    failure.errorText = "aborted";
    return failure;
  }
  return answer_;
}

void FakeHttpTransport::abortAll() {
  const std::lock_guard lock(mutex_);
  aborted_ = true;
}
