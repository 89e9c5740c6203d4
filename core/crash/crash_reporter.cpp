#include "core/crash/crash_reporter.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <typeinfo>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "build_config.h"
#include "core/settings_store.h"
#include "core/support/endpoints.h"
#include "core/support/identity.h"
#include "core/support/shared_http_transport.h"
#include "core/support/support_client.h"
#include "core/utf8_text.h"

namespace {

constexpr const char* pendingFileName = "pending-crash.txt";
constexpr const char* separator = "\n---\n";
constexpr const char* lastScanKey = setting_keys::lastCrashScan.name;
constexpr int fatalSignals[] = {SIGABRT, SIGSEGV, SIGILL, SIGBUS, SIGFPE, SIGTRAP};

// ---- Set-up shared by every operation ----

struct State {
  std::mutex mutex;
  std::optional<CrashReporter::Setup> setup;
};

State& state() {
  // Never destroyed: a crash during the process's exit still finds it.
  static auto* shared = new State;
  return *shared;
}

std::optional<CrashReporter::Setup> currentSetup() {
  State& shared = state();
  const std::lock_guard lock(shared.mutex);
  return shared.setup;
}

// ---- What the handlers use: prepared at install, read without allocating ----

constexpr std::size_t pathCapacity = 4096;
char folderPath[pathCapacity];
char filePath[pathCapacity];
volatile sig_atomic_t pathsReady = 0;
std::terminate_handler previousTerminate = nullptr;
// Big enough for the unwinder and a sanitizer build; a stack overflow needs somewhere to run.
alignas(16) char alternateStack[256 * 1024];

// The stack of the latest throw on each thread, so an uncaught exception reports where it
// was thrown rather than where it ended. Plain data, so a thread needs no initialiser for it.
struct ThrowStack {
  const void* object;
  int count;
  void* frames[CrashReporter::maxCapturedFrames];
};
thread_local ThrowStack latestThrow;

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

CxaThrow realThrow() {
  static const auto real = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  return real;
}

bool writeAll(int descriptor, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = write(descriptor, bytes, length);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

// Appends the decimal digits of `value` at `out`; returns the new end.
char* appendDecimal(char* out, long value) {
  char digits[24];
  int count = 0;
  const bool negative = value < 0;
  unsigned long magnitude =
      negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (negative) {
    *out++ = '-';
  }
  while (count > 0) {
    *out++ = digits[--count];
  }
  return out;
}

// mkdir -p with system calls only.
void makeFolders(const char* folder) {
  char path[pathCapacity];
  const std::size_t length = strnlen(folder, pathCapacity - 1);
  memcpy(path, folder, length);
  path[length] = '\0';
  for (std::size_t index = 1; index < length; ++index) {
    if (path[index] == '/') {
      path[index] = '\0';
      mkdir(path, 0700);
      path[index] = '/';
    }
  }
  mkdir(path, 0700);
}

// Writes the record aside, then moves it over the pending file: a reader sees the old record
// or the new one, never half of one. Safe inside a signal handler: system calls only, no
// allocation. Any failure leaves the old record.
void writeRecord(const char* message, std::size_t messageLength, void* const* frames,
                 int frameCount) {
  if (!pathsReady) {
    return;
  }
  makeFolders(folderPath);
  char temporary[pathCapacity + 32];
  const std::size_t fileLength = strnlen(filePath, pathCapacity - 1);
  memcpy(temporary, filePath, fileLength);
  char* end = temporary + fileLength;
  memcpy(end, ".tmp-", 5);
  end = appendDecimal(end + 5, static_cast<long>(gettid()));
  *end = '\0';

  const int descriptor = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    return;
  }
  bool written = writeAll(descriptor, message, messageLength) &&
                 writeAll(descriptor, separator, strlen(separator));
  if (written && frameCount > 0) {
    backtrace_symbols_fd(frames, frameCount, descriptor);
    // It ends every line with a line feed; the record has none after the last.
    const off_t size = lseek(descriptor, 0, SEEK_END);
    written = size > 0 && ftruncate(descriptor, size - 1) == 0;
  }
  fsync(descriptor);
  close(descriptor);
  if (!written || rename(temporary, filePath) != 0) {
    unlink(temporary);
  }
}

void onFatalSignal(int number) {
  void* frames[CrashReporter::maxCapturedFrames];
  const int count = backtrace(frames, static_cast<int>(CrashReporter::maxCapturedFrames));
  char message[32] = "Signal ";
  char* end = appendDecimal(message + strlen(message), number);
  writeRecord(message, static_cast<std::size_t>(end - message), frames, count);
  signal(number, SIG_DFL);
  raise(number);
}

std::string demangled(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string text = status == 0 && readable != nullptr ? readable : name;
  std::free(readable);
  return text;
}

std::string reasonOf(const std::exception_ptr& exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& caught) {
    return caught.what() != nullptr ? caught.what() : "";
  } catch (...) {
    // Anything else that can be thrown has no reason text.
    return {};
  }
}

[[noreturn]] void onTerminate() {
  const std::exception_ptr current = std::current_exception();
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (current && type != nullptr) {
    // libstdc++'s exception_ptr holds nothing but the thrown object's address.
    static_assert(sizeof(std::exception_ptr) == sizeof(void*));
    const void* object = nullptr;
    std::memcpy(&object, &current, sizeof object); // NOLINT(bugprone-undefined-memory-manipulation)

    std::string message;
    try {
      message =
          replacingInvalidUtf8("Exception: " + demangled(type->name()) + " : " + reasonOf(current));
    } catch (const std::bad_alloc&) {
      message = "Exception: ";
    }
    if (latestThrow.object == object && latestThrow.count > 0) {
      writeRecord(message.data(), message.size(), latestThrow.frames, latestThrow.count);
    } else {
      void* frames[CrashReporter::maxCapturedFrames];
      const int count = backtrace(frames, static_cast<int>(CrashReporter::maxCapturedFrames));
      writeRecord(message.data(), message.size(), frames, count);
    }
    // The abort that follows must not replace this record with a "Signal 6" one.
    signal(SIGABRT, SIG_DFL);
  }
  if (previousTerminate != nullptr) {
    previousTerminate();
  }
  std::abort();
}

// ---- Upload ----

std::optional<std::string> readWholeFile(const std::filesystem::path& path, std::size_t limit,
                                         bool& cut) {
  cut = false;
  const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    return std::nullopt;
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[64 * 1024];
  while (bytes.size() < limit) {
    const ssize_t count = read(descriptor, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count < 0) {
      close(descriptor);
      return std::nullopt;
    }
    if (count == 0) {
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  if (bytes.size() >= limit) {
    char extra = 0;
    cut = read(descriptor, &extra, 1) == 1;
  }
  close(descriptor);
  return bytes;
}

// The text of a file that is UTF-8; a text cut at `limit` loses its incomplete last character.
std::optional<std::string> readUtf8File(const std::filesystem::path& path, std::size_t limit) {
  bool cut = false;
  std::optional<std::string> bytes = readWholeFile(path, limit, cut);
  if (!bytes) {
    return std::nullopt;
  }
  if (isValidUtf8(*bytes)) {
    return bytes;
  }
  for (int dropped = 1; cut && dropped <= 3 && !bytes->empty(); ++dropped) {
    bytes->pop_back();
    if (isValidUtf8(*bytes)) {
      return bytes;
    }
  }
  return std::nullopt;
}

// A report's bytes, up to the read limit.
std::optional<std::string> readWholeFileText(const std::filesystem::path& path) {
  bool cut = false;
  return readWholeFile(path, CrashReporter::maxReportBytesRead, cut);
}

// The first non-empty line naming an exception or a termination, whole.
std::optional<std::string> reportMessage(std::string_view text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    if (!line.empty() && (line.find("Exception") != std::string_view::npos ||
                          line.find("Termination") != std::string_view::npos)) {
      return std::string(line);
    }
    start = end + 1;
  }
  return std::nullopt;
}

using Date = SettingsValue::Date;

// Before any file this program could meet, and within what the settings file can store.
Date distantPast() {
  return std::chrono::sys_days(std::chrono::year(1950) / 1 / 1);
}

// The settings file keeps whole seconds: compare at that precision so that a stored date is
// never earlier than the report it came from.
Date wholeSeconds(Date date) {
  return std::chrono::floor<std::chrono::seconds>(date);
}

bool automaticUploadsAllowed(const std::optional<CrashReporter::Setup>& setup) {
  return setup && setup->networkFeatures && SupportClient::automaticContactAllowed(setup->defaults);
}

// Held while a copy of the program uploads from the record folder, so that another copy (with
// another runtime folder, or the command line's) does not send the same record again. It
// never waits: the copy that holds it sends them.
class FolderLock {
 public:
  explicit FolderLock(const std::filesystem::path& folder)
      : descriptor_(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    held_ = descriptor_ >= 0 && flock(descriptor_, LOCK_EX | LOCK_NB) == 0;
  }
  ~FolderLock() {
    if (descriptor_ >= 0) {
      close(descriptor_);
    }
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool held() const { return held_; }

 private:
  int descriptor_;
  bool held_ = false;
};

// "<attempts>-<name>": how often an unsent record was tried, and its own name.
std::optional<std::pair<int, std::string>> unsentName(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  const std::size_t dash = name.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 2 || !name.ends_with(".txt")) {
    return std::nullopt;
  }
  int attempts = 0;
  for (std::size_t index = 0; index < dash; ++index) {
    if (name[index] < '0' || name[index] > '9') {
      return std::nullopt;
    }
    attempts = attempts * 10 + (name[index] - '0');
  }
  return std::pair{attempts, name.substr(dash + 1)};
}

bool isWordCharacter(char character) {
  return std::isalnum(static_cast<unsigned char>(character)) != 0 || character == '_' ||
         character == '-' || character == '.' || (character & 0x80) != 0;
}

} // namespace

// Records the stack of every throw. Calls from the standard library and other shared objects
// reach this through the dynamic linker, so their throws are seen as well.
namespace __cxxabiv1 {
extern "C" void __cxa_throw(void* object, std::type_info* type, void (*destructor)(void*)) {
  latestThrow.object = object;
  latestThrow.count =
      backtrace(latestThrow.frames, static_cast<int>(CrashReporter::maxCapturedFrames));
  const CxaThrow real = realThrow();
  if (real == nullptr) {
    std::abort();
  }
  real(object, type, destructor);
  __builtin_unreachable();
}
} // namespace __cxxabiv1

std::filesystem::path CrashReporter::standardFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') {
    return std::filesystem::path(dataHome) / "VarneloEject";
  }
  const char* home = std::getenv("HOME");
  std::string homeFolder = home != nullptr ? home : "";
  if (homeFolder.empty()) {
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
      homeFolder = entry->pw_dir;
    }
  }
  return std::filesystem::path(homeFolder) / ".local/share/VarneloEject";
}

CrashReporter::Setup CrashReporter::standardSetup(SettingsStore& defaults,
                                                  SystemCrashReports* systemReports,
                                                  Dispatcher* dispatcher) {
  std::string homeFolder = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  std::string userName;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr) {
    userName = entry->pw_name != nullptr ? entry->pw_name : "";
    if (homeFolder.empty() && entry->pw_dir != nullptr) {
      homeFolder = entry->pw_dir;
    }
  }
  return Setup{.folder = standardFolder(),
               .transport = SharedHttpTransport::instance(),
               .defaults = defaults,
               .endpoint = Endpoints::crash(),
               .systemReports = systemReports,
               .dispatcher = dispatcher,
               .version = build_config::version,
               .osString = {},
               .networkFeatures = build_config::networkFeatures,
               .homeFolder = homeFolder,
               .userName = userName};
}

void CrashReporter::configure(Setup setup) {
  State& shared = state();
  const std::lock_guard lock(shared.mutex);
  shared.setup.reset();
  shared.setup.emplace(std::move(setup));
}

void CrashReporter::configure(std::nullopt_t) {
  State& shared = state();
  const std::lock_guard lock(shared.mutex);
  shared.setup.reset();
}

void CrashReporter::install() {
  // Before the handlers: a crash of this run leaves its own record for the next launch.
  setPendingRecordAside();
  // Reading the reports and waiting for the server both happen away from the caller.
  const std::optional<Setup> setup = currentSetup();
  if (Dispatcher* dispatcher = setup ? setup->dispatcher : nullptr) {
    dispatcher->runInBackground(uploadAtStart);
  } else {
    std::thread(uploadAtStart).detach();
  }

  installHandlers();
}

void CrashReporter::installHandlers() {
  const std::filesystem::path file = crashFile();
  const std::string folder = file.parent_path().string();
  if (file.string().size() < pathCapacity - 32 && folder.size() < pathCapacity) {
    std::memcpy(folderPath, folder.c_str(), folder.size() + 1);
    std::memcpy(filePath, file.c_str(), file.string().size() + 1);
    pathsReady = 1;
  }
  // The first backtrace loads the unwinder, which allocates: never let that happen in a handler.
  void* warmUp[1];
  backtrace(warmUp, 1);
  realThrow();

  const std::terminate_handler previous = std::set_terminate(onTerminate);
  if (previous != onTerminate) {
    previousTerminate = previous;
  }

  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) != 0) {
    stack_t alternate{};
    alternate.ss_sp = alternateStack;
    alternate.ss_size = sizeof alternateStack;
    sigaltstack(&alternate, nullptr);
  }
  for (const int number : fatalSignals) {
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
  }
}

void CrashReporter::reportError(const std::string& message) {
  void* frames[maxErrorFrames];
  const int count = backtrace(frames, static_cast<int>(maxErrorFrames));
  std::string stack;
  if (char** symbols = backtrace_symbols(frames, count); symbols != nullptr) {
    for (int index = 0; index < count; ++index) {
      if (index > 0) {
        stack += '\n';
      }
      stack += symbols[index];
    }
    std::free(symbols);
  }
  send("error", message, stack);
}

void CrashReporter::uploadAtStart() {
  sendUnsentCrashes();
  sendSystemCrashReports();
}

std::filesystem::path CrashReporter::crashFile() {
  const std::optional<Setup> setup = currentSetup();
  const std::filesystem::path folder = setup ? setup->folder : standardFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return folder / pendingFileName;
}

void CrashReporter::setPendingRecordAside() {
  if (!automaticUploadsAllowed(currentSetup())) {
    return;
  }
  const std::filesystem::path file = crashFile();
  const std::filesystem::path unsent = file.parent_path() / unsentFolderName;
  std::error_code ignored;
  bool cut = false;
  if (const auto text = readWholeFile(file, maxReportBytesRead, cut); text && isValidUtf8(*text)) {
    std::filesystem::create_directories(unsent, ignored);
    const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    std::filesystem::rename(file, unsent / ("0-" + std::to_string(stamp) + ".txt"), ignored);
  }
}

void CrashReporter::sendUnsentCrashes() {
  if (!automaticUploadsAllowed(currentSetup())) {
    return;
  }
  const std::filesystem::path folder = crashFile().parent_path();
  const FolderLock lock(folder);
  if (!lock.held()) {
    return;
  }
  const std::filesystem::path unsent = folder / unsentFolderName;
  std::error_code ignored;
  std::vector<std::pair<std::string, std::filesystem::path>> records;
  std::error_code error;
  for (std::filesystem::directory_iterator listing(unsent, error), end; !error && listing != end;
       listing.increment(error)) {
    if (const auto name = unsentName(listing->path())) {
      records.emplace_back(name->second, listing->path());
    }
  }
  std::sort(records.begin(), records.end());

  int uploads = 0;
  for (const auto& [name, path] : records) {
    if (uploads == maxRecordUploads) {
      return;
    }
    const int attempts = unsentName(path)->first + 1;
    const std::optional<std::string> text = readUtf8File(path, maxReportBytesRead);
    // Counted before sending: a record that breaks the upload itself cannot come back forever.
    const std::filesystem::path counted = unsent / (std::to_string(attempts) + "-" + name);
    if (!text || attempts > maxAttempts || ::rename(path.c_str(), counted.c_str()) != 0) {
      std::filesystem::remove(path, ignored);
      continue;
    }
    const std::string_view whole = *text;
    const std::size_t first = whole.find(separator);
    std::string stack;
    if (first != std::string_view::npos) {
      const std::string_view rest = whole.substr(first + strlen(separator));
      stack = rest.substr(0, rest.find(separator));
    }
    ++uploads;
    const bool delivered = deliver("crash", std::string(whole.substr(0, first)), stack);
    if (delivered || attempts >= maxAttempts) {
      std::filesystem::remove(counted, ignored);
    }
    if (!delivered) {
      return;
    }
  }
}

void CrashReporter::sendSystemCrashReports() {
  const std::optional<Setup> configured = currentSetup();
  if (!automaticUploadsAllowed(configured) || configured->systemReports == nullptr) {
    return;
  }
  const Setup& setup = *configured;
  const std::optional<std::filesystem::path> folder = setup.systemReports->folder();
  const FolderLock lock(crashFile().parent_path());
  if (!folder || !lock.held()) {
    return;
  }
  const std::optional<SettingsValue> stored = setup.defaults.object(lastScanKey);
  const Date lastScan =
      stored && stored->is<Date>() ? wholeSeconds(*stored->as<Date>()) : distantPast();
  Date newest = lastScan;
  const std::optional<SettingsValue> storedAttempts = setup.defaults.object(reportAttemptsKey);
  std::int64_t attempts = storedAttempts && storedAttempts->is<std::int64_t>()
                              ? *storedAttempts->as<std::int64_t>()
                              : 0;

  std::error_code error;
  std::vector<std::pair<Date, std::filesystem::path>> entries;
  for (std::filesystem::directory_iterator listing(folder.value(), error), end;
       !error && listing != end; listing.increment(error)) {
    const std::filesystem::path& entry = listing->path();
    if (!setup.systemReports->belongsToThisProgram(entry)) {
      continue;
    }
    std::error_code dateError;
    const auto modified = std::filesystem::last_write_time(entry, dateError);
    const Date date =
        dateError ? distantPast() : wholeSeconds(std::chrono::file_clock::to_sys(modified));
    if (date > lastScan) {
      entries.emplace_back(date, entry);
    }
  }
  if (error) {
    return;
  }
  // Oldest first, so that the scan date can stop right before the first one not delivered.
  std::sort(entries.begin(), entries.end());

  int uploads = 0;
  for (const auto& [date, entry] : entries) {
    if (uploads == maxReportUploads) {
      break;
    }
    std::optional<std::string> raw = readWholeFileText(entry);
    if (!raw) {
      continue;
    }
    const std::string text = setup.systemReports->shareableText(*raw);
    if (!isValidUtf8(text)) {
      continue;
    }
    const std::string message =
        reportMessage(text).value_or(setup.systemReports->fallbackMessage());
    ++uploads;
    if (deliver("crash", message, leadingCharacters(text, maxReportCharacters))) {
      newest = std::max(newest, date);
      attempts = 0;
      continue;
    }
    // One that fails on three launches is given up, so that it cannot hold back the others.
    if (++attempts >= maxAttempts) {
      newest = std::max(newest, date);
      attempts = 0;
    }
    break;
  }
  setup.defaults.set(lastScanKey, newest);
  setup.defaults.set(reportAttemptsKey, attempts);
}

bool CrashReporter::deliver(const std::string& kind, const std::string& message,
                            const std::string& stack) {
  const std::optional<Setup> configured = currentSetup();
  if (!configured || !configured->networkFeatures) {
    return false;
  }
  const Setup& setup = *configured;
  const auto personal = [&setup](const std::string& text) {
    return withoutPersonalNames(text, setup.homeFolder, setup.userName);
  };
  const nlohmann::json record{
      {"d", setup.defaults.string(setting_keys::deviceId.name).value_or("?")},
      {"kind", kind},
      {"message", personal(message)},
      {"stack", personal(stack)},
      {"v", versionText(setup.version)},
      {"os", setup.osString ? setup.osString() : currentOsString()}};
  HttpRequest request;
  request.url = setup.endpoint;
  request.method = "POST";
  request.body = SupportClient::encodeBody(record);
  request.timeout = setup.timeout;
  const HttpResponse response = setup.transport.send(request);
  return response.transferred && response.status >= 200 && response.status < 300;
}

void CrashReporter::send(const std::string& kind, const std::string& message,
                         const std::string& stack) {
  const std::optional<Setup> setup = currentSetup();
  if (!automaticUploadsAllowed(setup)) {
    return;
  }
  auto upload = [kind, message, stack] { deliver(kind, message, stack); };
  if (setup->dispatcher != nullptr) {
    setup->dispatcher->runInBackground(std::move(upload));
  } else {
    std::thread(std::move(upload)).detach();
  }
}

std::string CrashReporter::withoutPersonalNames(std::string text, const std::string& homeFolder,
                                                const std::string& userName) {
  const auto replaceWords = [&text](const std::string& word, const std::string& by) {
    if (word.empty()) {
      return;
    }
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at)) {
      const std::size_t end = at + word.size();
      // A folder is cut where a path element ends; a name only where a word ends.
      const bool startsWord = at == 0 || !isWordCharacter(text[at - 1]) || word.front() == '/';
      const bool endsWord = end == text.size() || !isWordCharacter(text[end]);
      if (startsWord && endsWord) {
        text.replace(at, word.size(), by);
        at += by.size();
      } else {
        at = end;
      }
    }
  };
  std::string home = homeFolder;
  while (home.size() > 1 && home.ends_with('/')) {
    home.pop_back();
  }
  if (home.size() > 1) {
    replaceWords(home, "~");
  }
  replaceWords(userName, "<user>");
  return text;
}
