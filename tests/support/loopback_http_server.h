#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

// HTTP on 127.0.0.1: GET routes answer as given, other requests the common answer; all recorded.
class LoopbackHttpServer {
 public:
  struct Received {
    std::string method;
    std::string path;
    std::string body;
    httplib::Headers headers; // names compared without case
  };
  struct Answer {
    int status = 200;
    std::string body = "{}";
    std::string location; // a Location header when not empty
  };

  LoopbackHttpServer() {
    const auto handle = [this](const httplib::Request& request, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      received_.push_back({request.method, request.path, request.body, request.headers});
      changed_.notify_all();
      changed_.wait(lock, [this] { return !silent_ || stopping_; });
      const auto route = routes_.find(request.path);
      const bool routed = request.method == "GET" && route != routes_.end();
      const Answer& answer = routed ? route->second : answer_;
      response.status = answer.status;
      if (!answer.location.empty()) {
        response.set_header("Location", answer.location);
      }
      // Routes serve packages too: a type the server does not compress.
      response.set_content(answer.body, routed ? "application/octet-stream" : "application/json");
    };
    server_.Post(".*", handle);
    server_.Get(".*", handle);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  ~LoopbackHttpServer() {
    setSilent(false, true);
    server_.stop();
    thread_.join();
  }

  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  void answer(int status, std::string body) {
    const std::lock_guard lock(mutex_);
    answer_ = {status, std::move(body), {}};
  }
  void route(const std::string& path, Answer answer) {
    const std::lock_guard lock(mutex_);
    routes_[path] = std::move(answer);
  }

  // While silent, requests are taken but never answered.
  void setSilent(bool silent, bool stopping = false) {
    {
      const std::lock_guard lock(mutex_);
      silent_ = silent;
      stopping_ = stopping;
    }
    changed_.notify_all();
  }

  std::vector<Received> received() const {
    const std::lock_guard lock(mutex_);
    return received_;
  }

  // Forgets what was received so far: a fuzz run sends requests by the million.
  void forget() {
    const std::lock_guard lock(mutex_);
    received_.clear();
  }

  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> received_;
  Answer answer_;
  std::map<std::string, Answer> routes_;
  bool silent_ = false;
  bool stopping_ = false;
};
