#include "core/support/shared_http_transport.h"

SharedHttpTransport& SharedHttpTransport::instance() {
  // Never destroyed: uploads on detached threads may still use it while the process exits.
  static auto* shared = new SharedHttpTransport;
  return *shared;
}

HttpResponse SharedHttpTransport::send(const HttpRequest& request) {
  HttpTransport* transport = installed_.load();
  if (transport == nullptr) {
    HttpResponse response;
    response.errorText = "no HTTP transport installed";
    return response;
  }
  return transport->send(request);
}

void SharedHttpTransport::abortAll() {
  if (HttpTransport* transport = installed_.load()) {
    transport->abortAll();
  }
}
