#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/ejectable_volume.h"
#include "core/utf8_text.h"

// One line per volume, in the list's order: name, size, flags, mount path, separated by tabs.
void printVolumeLines(const std::vector<EjectableVolume>& volumes, std::ostream& out);

// The volumes as a JSON array of {id, name, sizeText, isDiskImage, isTimeMachine, backupKind,
// backupUnknown, mountPath, device, mountPaths}.
nlohmann::json volumesJson(const std::vector<EjectableVolume>& volumes);

// The JSON text; bytes that are not UTF-8 come out as U+FFFD rather than failing.
std::string volumesJsonText(const std::vector<EjectableVolume>& volumes);
