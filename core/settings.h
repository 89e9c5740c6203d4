#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_store.h"

// What a key holds in the settings file.
enum class SettingType { boolean, text, integer, date, list };

// How a key reads back.
enum class ReadRule {
  // On until the user turns it off: only a stored Boolean false reads false, so a hand-written
  // "NO" or 0 does not turn a protection off.
  onUnlessStoredFalse,
  // The usual Boolean reading (SettingsStore::boolean): absent reads false.
  booleanReading,
  // The stored text; the key's default text when there is no text there.
  textOrDefault,
  // A record its owner reads and checks itself (identity, messages, crash and update state).
  ownedRecord,
};

struct SettingKey {
  const char* name;
  SettingType type;
  ReadRule rule;
  const char* defaultText = "";
};

// Every key the program keeps in its settings file.
namespace setting_keys {
inline constexpr SettingKey protectTimeMachine{"VEProtectTimeMachine", SettingType::boolean,
                                               ReadRule::onUnlessStoredFalse};
inline constexpr SettingKey ejectDiskImages{"VEEjectDiskImages", SettingType::boolean,
                                            ReadRule::booleanReading};
inline constexpr SettingKey statusColor{"VEStatusColor", SettingType::text, ReadRule::textOrDefault,
                                        "#7C3AED"};
// A desktop notification when a volume can be removed.
inline constexpr SettingKey notifyWhenSafe{"VENotifyWhenSafe", SettingType::boolean,
                                           ReadRule::onUnlessStoredFalse};
// The automatic server check and crash uploads; the user's own reports are not affected.
inline constexpr SettingKey automaticServerContact{"VEAutomaticServerContact", SettingType::boolean,
                                                   ReadRule::onUnlessStoredFalse};
inline constexpr SettingKey menuBarMode{"VEMenuBarMode", SettingType::boolean,
                                        ReadRule::booleanReading};
inline constexpr SettingKey onboarded{"VEOnboarded", SettingType::boolean,
                                      ReadRule::booleanReading};
inline constexpr SettingKey deviceId{"VEDeviceId", SettingType::text, ReadRule::ownedRecord};
inline constexpr SettingKey shownMessages{"VEShownMessages", SettingType::list,
                                          ReadRule::ownedRecord};
inline constexpr SettingKey acknowledgedMessage{"VEAckMessage", SettingType::integer,
                                                ReadRule::ownedRecord};
inline constexpr SettingKey messageHistory{"VEMessageHistory", SettingType::list,
                                           ReadRule::ownedRecord};
inline constexpr SettingKey lastCrashScan{"VELastCrashScan", SettingType::date,
                                          ReadRule::ownedRecord};
inline constexpr SettingKey crashReportAttempts{"VECrashReportAttempts", SettingType::integer,
                                                ReadRule::ownedRecord};
inline constexpr SettingKey updaterAutomaticChecks{"VEUpdaterAutomaticChecks", SettingType::boolean,
                                                   ReadRule::ownedRecord};
inline constexpr SettingKey updaterAutomaticDownloads{"VEUpdaterAutomaticDownloads",
                                                      SettingType::boolean, ReadRule::ownedRecord};
inline constexpr SettingKey updaterLastCheck{"VEUpdaterLastCheck", SettingType::date,
                                             ReadRule::ownedRecord};
inline constexpr SettingKey updaterFailedVersion{"VEUpdaterFailedVersion", SettingType::text,
                                                 ReadRule::ownedRecord};
inline constexpr SettingKey updaterRefusedVersion{"VEUpdaterRefusedVersion", SettingType::text,
                                                  ReadRule::ownedRecord};

inline constexpr std::array all{protectTimeMachine,
                                ejectDiskImages,
                                statusColor,
                                notifyWhenSafe,
                                automaticServerContact,
                                menuBarMode,
                                onboarded,
                                deviceId,
                                shownMessages,
                                acknowledgedMessage,
                                messageHistory,
                                lastCrashScan,
                                crashReportAttempts,
                                updaterAutomaticChecks,
                                updaterAutomaticDownloads,
                                updaterLastCheck,
                                updaterFailedVersion,
                                updaterRefusedVersion};
} // namespace setting_keys

// A Boolean key read from a store by its rule; for code that is handed the store alone.
bool readBoolean(const SettingsStore& store, const SettingKey& key);

// An opaque sRGB colour, components 0…1.
struct RgbColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  friend bool operator==(const RgbColor&, const RgbColor&) = default;
};

struct StatusColorEntry {
  std::string titre; // localised title, looked up once
  std::string hex;   // empty: the desktop's own monochrome look
};

// "#RRGGBB" or "RRGGBB" with horizontal white space around it; anything else is no colour.
std::optional<RgbColor> colorFromHex(std::string_view hex);

// The user's settings over the one store of the process, created once where the program is
// wired up and handed to whoever reads or writes them. Reads go to the store each time; nothing
// is cached, so other processes' changes are seen. Safe from any thread.
//
// After each change made through this object, every subscriber is called with the key, on the
// thread that made the change, one subscriber at a time. Records written straight to the store
// (messages, crash and update state) are not announced.
class Settings {
 public:
  using Observer = std::function<void(const std::string& key)>;
  struct Observers;

  // Ends its subscription when reset or destroyed; afterwards its observer is neither running
  // nor called again. May outlive the settings.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(std::weak_ptr<Observers> observers, std::uint64_t id)
        : observers_(std::move(observers)), id_(id) {}
    Subscription(Subscription&& other) noexcept { *this = std::move(other); }
    Subscription& operator=(Subscription&& other) noexcept;
    ~Subscription() { reset(); }
    void reset();

   private:
    std::weak_ptr<Observers> observers_;
    std::uint64_t id_ = 0;
  };

  explicit Settings(SettingsStore& store);
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;

  SettingsStore& store() const { return store_; }

  bool boolean(const SettingKey& key) const { return readBoolean(store_, key); }
  std::string text(const SettingKey& key) const;
  // Stores the value unchecked, then tells the subscribers. False when the file could not be
  // written; the value is kept in memory anyway.
  bool set(const SettingKey& key, SettingsValue value);

  bool protectTimeMachine() const { return boolean(setting_keys::protectTimeMachine); }
  void setProtectTimeMachine(bool on) { set(setting_keys::protectTimeMachine, on); }
  bool ejectDiskImages() const { return boolean(setting_keys::ejectDiskImages); }
  void setEjectDiskImages(bool on) { set(setting_keys::ejectDiskImages, on); }
  bool notifyWhenSafe() const { return boolean(setting_keys::notifyWhenSafe); }
  void setNotifyWhenSafe(bool on) { set(setting_keys::notifyWhenSafe, on); }
  bool automaticServerContact() const { return boolean(setting_keys::automaticServerContact); }
  void setAutomaticServerContact(bool on) { set(setting_keys::automaticServerContact, on); }
  bool menuBarMode() const { return boolean(setting_keys::menuBarMode); }
  void setMenuBarMode(bool on) { set(setting_keys::menuBarMode, on); }
  bool onboarded() const { return boolean(setting_keys::onboarded); }
  void setOnboarded(bool on) { set(setting_keys::onboarded, on); }
  std::string statusColorHex() const { return text(setting_keys::statusColor); }
  void setStatusColorHex(const std::string& hex) { set(setting_keys::statusColor, hex); }

  // The colours the settings page offers, six rows; the titles are looked up on first use and
  // stay in that language.
  const std::vector<StatusColorEntry>& statusColors() const;

  [[nodiscard]] Subscription subscribe(Observer observer);

 private:
  SettingsStore& store_;
  std::shared_ptr<Observers> observers_;
  mutable std::once_flag colorsBuilt_;
  mutable std::vector<StatusColorEntry> colors_;
};
