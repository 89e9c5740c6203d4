#pragma once

#include <string_view>

#include <QString>

#include "core/localization.h"

// The localised text under key, as widgets take it.
inline QString text(std::string_view key) {
  return QString::fromStdString(L(key));
}
