#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/settings_store.h"

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

// The persisted eject settings. Every read and write goes to the settings store; nothing cached.
class EjectSettings {
 public:
  EjectSettings() = delete;

  static SettingsStore& defaults();

  static bool protectTimeMachine();
  static void setProtectTimeMachine(bool value);
  static bool ejectDiskImages();
  static void setEjectDiskImages(bool value);
  // A desktop notification when a volume can be removed.
  static bool notifyWhenSafe();
  static void setNotifyWhenSafe(bool value);
  static std::string statusColorHex();
  static void setStatusColorHex(const std::string& value);
  // The automatic server check and crash uploads (the user's own problem reports are not
  // affected): true unless a Boolean false is stored.
  static bool automaticServerContact(const SettingsStore& store = defaults());
  static void setAutomaticServerContact(bool value);

  // Six rows, built once on first use.
  static const std::vector<StatusColorEntry>& statusColors();
  static std::optional<RgbColor> color(const std::string& fromHex);

  static constexpr const char* protectTimeMachineKey = "VEProtectTimeMachine";
  static constexpr const char* ejectDiskImagesKey = "VEEjectDiskImages";
  static constexpr const char* statusColorKey = "VEStatusColor";
  static constexpr const char* automaticServerContactKey = "VEAutomaticServerContact";
  static constexpr const char* notifyWhenSafeKey = "VENotifyWhenSafe";
  static constexpr const char* defaultStatusColor = "#7C3AED";
};
