#pragma once

#include <filesystem>
#include <string>

// One mounted volume the user may eject. Equal by id (its mount path) alone.
struct EjectableVolume {
  std::string id;
  std::string name;
  std::filesystem::path url;
  std::string sizeText;
  bool isDiskImage = false;
  bool isTimeMachine = false;

  friend bool operator==(const EjectableVolume& left, const EjectableVolume& right) {
    return left.id == right.id;
  }
};
