#pragma once

#include <atomic>
#include <mutex>
#include <set>

#include "platform/http_transport.h"

// HTTP over libcurl: one easy handle per exchange, so any thread may send at any time. Each
// exchange waits in its own multi handle, which abortAll() wakes at once.
class CurlHttpTransport : public HttpTransport {
 public:
  CurlHttpTransport();

  HttpResponse send(const HttpRequest& request) override;
  void abortAll() override;

 private:
  // The multi handles of the exchanges under way.
  std::mutex mutex_;
  std::set<void*> waiting_;
  std::atomic<bool> aborted_{false};
};
