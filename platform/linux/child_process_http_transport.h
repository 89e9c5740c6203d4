#pragma once

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/http_transport.h"

// Each exchange in a short-lived fetch program (libcurl and OpenSSL stay out of this process),
// talking to it over a socket pair; a package's open file is handed to it as descriptor 3.
class ChildProcessHttpTransport : public HttpTransport {
 public:
  explicit ChildProcessHttpTransport(std::filesystem::path fetchProgram);

  HttpResponse send(const HttpRequest& request) override;
  void abortAll() override;

 private:
  std::filesystem::path program_;
  // The children not yet reaped, so their ids are still theirs to kill.
  std::mutex mutex_;
  std::set<pid_t> running_;
  std::atomic<bool> aborted_{false};
};
