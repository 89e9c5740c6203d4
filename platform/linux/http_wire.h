#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/http_transport.h"

// How the desktop program hands one exchange to the fetch program and gets the answer back: a
// line of JSON, then the body's bytes to the end of the stream.
namespace http_wire {

// The descriptor the fetch program finds a package's open file on.
inline constexpr int bodyFileDescriptor = 3;

inline std::string withBody(const nlohmann::json& head, const std::string& body) {
  return head.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n' + body;
}

inline std::string encodeRequest(const HttpRequest& request) {
  return withBody({{"url", request.url},
                   {"method", request.method},
                   {"timeout", request.timeout.count()},
                   {"file", request.bodyFile >= 0},
                   {"max", request.maxFileBytes}},
                  request.body);
}

inline std::string encodeResponse(const HttpResponse& response) {
  return withBody({{"ok", response.transferred},
                   {"status", response.status},
                   {"error", response.errorText},
                   {"location", response.location}},
                  response.body);
}

// The head, or a discarded value when the stream holds none; the body is what follows it.
inline nlohmann::json decodeHead(const std::string& wire, std::string& body) {
  const std::size_t end = wire.find('\n');
  if (end == std::string::npos) {
    return nlohmann::json(nlohmann::json::value_t::discarded);
  }
  body = wire.substr(end + 1);
  nlohmann::json head = nlohmann::json::parse(wire.substr(0, end), nullptr, false);
  return head.is_object() ? head : nlohmann::json(nlohmann::json::value_t::discarded);
}

inline bool decodeRequest(const std::string& wire, HttpRequest& request) {
  const nlohmann::json head = decodeHead(wire, request.body);
  if (head.is_discarded()) {
    return false;
  }
  request.url = head.value("url", "");
  request.method = head.value("method", "POST");
  request.timeout = std::chrono::milliseconds(head.value("timeout", 8000));
  request.bodyFile = head.value("file", false) ? bodyFileDescriptor : -1;
  request.maxFileBytes = head.value("max", std::uint64_t{0});
  return true;
}

inline HttpResponse decodeResponse(const std::string& wire) {
  HttpResponse response;
  const nlohmann::json head = decodeHead(wire, response.body);
  if (head.is_discarded()) {
    response.body.clear();
    response.errorText = "the fetch program gave no answer";
    return response;
  }
  response.transferred = head.value("ok", false);
  response.status = head.value("status", 0L);
  response.errorText = head.value("error", "");
  response.location = head.value("location", "");
  return response;
}

} // namespace http_wire
