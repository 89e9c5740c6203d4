#pragma once

#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

// A real HTTP server on 127.0.0.1 and a free port, answering every POST the same way and
// remembering what it received.
class LoopbackHttpServer {
 public:
  struct Received {
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> headers;

    bool hasHeader(const std::string& name) const {
      for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
          return true;
        }
      }
      return false;
    }
  };

  LoopbackHttpServer() {
    server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      received_.push_back(Received{request.method,
                                   request.path,
                                   request.body,
                                   {request.headers.begin(), request.headers.end()}});
      changed_.notify_all();
      changed_.wait(lock, [this] { return !silent_ || stopping_; });
      response.status = status_;
      response.set_content(answer_, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  ~LoopbackHttpServer() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
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
    status_ = status;
    answer_ = std::move(body);
  }

  // While silent, requests are taken but never answered.
  void setSilent(bool silent) {
    {
      const std::lock_guard lock(mutex_);
      silent_ = silent;
    }
    changed_.notify_all();
  }

  std::vector<Received> received() const {
    const std::lock_guard lock(mutex_);
    return received_;
  }

  // Whether `count` requests arrived within the time.
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
  int status_ = 200;
  std::string answer_ = "{}";
  bool silent_ = false;
  bool stopping_ = false;
};
