#include "platform/linux/curl_http_transport.h"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace {

struct AnswerSink {
  std::string body;
  int file = -1;
  std::uint64_t limit = HttpTransport::maxAnswerBytes;
  std::uint64_t received = 0;
  bool tooLong = false;
};

bool writeAll(int file, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(file, data, length);
    if (written < 0 && errno != EINTR) {
      return false;
    }
    if (written > 0) {
      data += written;
      length -= static_cast<std::size_t>(written);
    }
  }
  return true;
}

std::size_t collectAnswer(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<AnswerSink*>(user);
  const std::size_t bytes = size * count;
  sink->received += bytes;
  if (sink->received > sink->limit) {
    sink->tooLong = true;
    return 0; // makes libcurl abort the transfer
  }
  if (sink->file >= 0) {
    return writeAll(sink->file, data, bytes) ? bytes : 0;
  }
  sink->body.append(data, bytes);
  return bytes;
}

struct HeaderListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
  void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};

} // namespace

CurlHttpTransport::CurlHttpTransport() {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HttpResponse CurlHttpTransport::send(const HttpRequest& request) {
  HttpResponse response;
  std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
  if (!handle) {
    response.errorText = "libcurl could not create a handle";
    return response;
  }
  CURL* curl = handle.get();

  // libcurl would otherwise add "Content-Type: application/x-www-form-urlencoded" to a POST
  // and "Expect: 100-continue" to a large one; an empty value removes a header.
  std::unique_ptr<curl_slist, HeaderListDeleter> headers;
  for (const char* removed : {"Content-Type:", "Expect:"}) {
    curl_slist* appended = curl_slist_append(headers.get(), removed);
    if (appended == nullptr) {
      response.errorText = "out of memory";
      return response;
    }
    // The old head is part of the appended list: hand it over without freeing it.
    static_cast<void>(headers.release());
    headers.reset(appended);
  }

  char errorBuffer[CURL_ERROR_SIZE] = {};
  AnswerSink sink;
  if (request.bodyFile >= 0) {
    sink.file = request.bodyFile;
    sink.limit = request.maxFileBytes;
  }
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  // Loopback is never reached through a proxy from the environment.
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  // Signals for time-outs do not mix with threads.
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(sink.limit));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectAnswer);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
  if (request.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
  } else if (request.method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }

  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), curl) != CURLM_OK) {
    response.errorText = "libcurl could not create a handle";
    return response;
  }
  {
    const std::lock_guard lock(mutex_);
    if (aborted_.load()) {
      curl_multi_remove_handle(multi.get(), curl);
      response.errorText = "aborted";
      return response;
    }
    waiting_.insert(multi.get());
  }
  CURLcode result = CURLE_OK;
  for (int running = 1;;) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      for (CURLMsg* message = curl_multi_info_read(multi.get(), &left); message != nullptr;
           message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE) {
          result = message->data.result;
        }
      }
      break;
    }
    if (aborted_.load()) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    // The library's own time-outs bound the wait; abortAll() cuts it short.
    curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
  }
  {
    const std::lock_guard lock(mutex_);
    waiting_.erase(multi.get());
  }
  curl_multi_remove_handle(multi.get(), curl);
  if (result != CURLE_OK) {
    if (result == CURLE_ABORTED_BY_CALLBACK) {
      response.errorText = "aborted";
    } else if (sink.tooLong || result == CURLE_FILESIZE_EXCEEDED) {
      response.errorText = "the answer is longer than the limit";
    } else {
      response.errorText = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(result);
    }
    return response;
  }
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  response.transferred = true;
  response.status = status;
  response.body = std::move(sink.body);
  if (char* location = nullptr;
      curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK &&
      location != nullptr) {
    response.location = location;
  }
  return response;
}

void CurlHttpTransport::abortAll() {
  const std::lock_guard lock(mutex_);
  aborted_.store(true);
  for (void* multi : waiting_) {
    curl_multi_wakeup(static_cast<CURLM*>(multi));
  }
}
