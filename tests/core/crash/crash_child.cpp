// crash_child FOLDER MODE [CRASH_URL]: installs the crash reporter, then fails as asked.
#include <sys/mman.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/crash/crash_reporter.h"
#include "core/settings_store.h"
#include "platform/linux/curl_http_transport.h"

// Not static, not inlined: their names must show in the recorded stack.
extern "C" __attribute__((noinline)) void varneloChildThrowsDeepInside(int depth) {
  if (depth > 0) {
    varneloChildThrowsDeepInside(depth - 1);
    asm volatile("");
    return;
  }
  throw std::runtime_error("disk on fire");
}

extern "C" __attribute__((noinline)) void varneloChildBoundary() noexcept {
  varneloChildThrowsDeepInside(3);
}

extern "C" __attribute__((noinline)) void varneloChildFaults(int depth) {
  if (depth > 0) {
    varneloChildFaults(depth - 1);
    asm volatile("");
    return;
  }
  // A page nobody may touch: a real fault, and not one a sanitizer reports first.
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  *static_cast<volatile int*>(page) = 1;
}

volatile int varneloChildStopDepth = -1; // never reached: the recursion is not provably endless

extern "C" __attribute__((noinline)) int varneloChildRecursesForever(int depth) {
  if (depth == varneloChildStopDepth) {
    return 0;
  }
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  const int deeper = varneloChildRecursesForever(depth + 1);
  asm volatile("" : : "r"(frame) : "memory");
  return deeper + frame[0];
}

int main(int argc, char** argv) {
  const std::filesystem::path folder = argv[1];
  const std::string mode = argv[2];
  static CurlHttpTransport transport;
  static SettingsStore store(folder.parent_path() / "child-defaults.plist");
  store.set("VEOnboarded", true);
  CrashReporter::Setup setup{folder, transport, store, argc > 3 ? argv[3] : "http://127.0.0.1:1/"};
  setup.version = "9.8.7";
  CrashReporter::configure(setup);
  CrashReporter::install();
  if (mode == "throw") {
    varneloChildThrowsDeepInside(3);
  } else if (mode == "throw-through-noexcept") {
    varneloChildBoundary();
  } else if (mode == "throw-int") {
    throw 42;
  } else if (mode == "throw-in-thread") {
    std::thread([] { varneloChildThrowsDeepInside(1); }).join();
  } else if (mode == "segfault" || mode == "segfault-deep") {
    varneloChildFaults(mode == "segfault" ? 0 : 60);
  } else if (mode == "segfault-after-removing-folder") {
    std::filesystem::remove_all(folder);
    varneloChildFaults(0);
  } else if (mode == "stack-overflow") {
    return varneloChildRecursesForever(0);
  } else if (mode == "abort") {
    std::abort();
  } else if (mode == "start-and-wait") { // the start-up uploads run on a thread of their own
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return 0;
  }
  std::cerr << "crash_child: unknown mode " << mode << "\n";
  return 3;
}
