#include "cli/polkit_text_agent.h"

#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>

// The few entry points of libpolkit-agent-1 and GLib, by their C signatures; the pointers are
// GObjects the library owns.
struct PolkitTextAgent::Library {
  struct GlibError {
    std::uint32_t domain;
    int code;
    char* message;
  };
  using NewListener = void* (*)(void* cancellable, GlibError** error);
  using NewProcess = void* (*)(int pid, std::uint64_t startTime, int uid);
  using Register = void* (*)(void* listener, int flags, void* subject, const char* objectPath,
                             void* cancellable, GlibError** error);
  using Unregister = void (*)(void* registration);
  using Unref = void (*)(void* object);
  using FreeError = void (*)(GlibError* error);

  // Never closed: GLib keeps threads and types of its own until the process ends.
  void* handle = nullptr;
  NewListener newListener = nullptr;
  NewProcess newProcess = nullptr;
  Register registerListener = nullptr;
  Unregister unregisterListener = nullptr;
  Unref unref = nullptr;
  FreeError freeError = nullptr;

  template <typename Function> bool find(Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
  }

  bool load() {
    handle = dlopen("libpolkit-agent-1.so.0", RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr && find(newListener, "polkit_agent_text_listener_new") &&
           find(newProcess, "polkit_unix_process_new_for_owner") &&
           find(registerListener, "polkit_agent_listener_register") &&
           find(unregisterListener, "polkit_agent_listener_unregister") &&
           find(unref, "g_object_unref") && find(freeError, "g_error_free");
  }
};

namespace {

// The listener answers in a thread of its own while udisks2 waits for polkit.
constexpr int registerRunInThread = 1;

} // namespace

std::unique_ptr<PolkitTextAgent> PolkitTextAgent::startForTerminal() {
  if (geteuid() == 0 || isatty(STDIN_FILENO) == 0) {
    return nullptr;
  }
  auto library = std::make_shared<Library>();
  if (!library->load()) {
    return nullptr;
  }
  Library::GlibError* error = nullptr;
  void* listener = library->newListener(nullptr, &error);
  if (listener == nullptr) {
    if (error != nullptr) {
      library->freeError(error);
    }
    return nullptr;
  }
  void* subject = library->newProcess(static_cast<int>(getpid()), 0, static_cast<int>(getuid()));
  void* registration =
      library->registerListener(listener, registerRunInThread, subject, nullptr, nullptr, &error);
  library->unref(subject);
  if (registration == nullptr) {
    if (error != nullptr) {
      library->freeError(error);
    }
    library->unref(listener);
    return nullptr;
  }
  return std::unique_ptr<PolkitTextAgent>(
      new PolkitTextAgent(std::move(library), listener, registration));
}

PolkitTextAgent::PolkitTextAgent(std::shared_ptr<Library> library, void* listener,
                                 void* registration)
    : library_(std::move(library)), listener_(listener), registration_(registration) {}

PolkitTextAgent::~PolkitTextAgent() {
  library_->unregisterListener(registration_);
  library_->unref(listener_);
}
