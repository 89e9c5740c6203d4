#include "app/cli/volume_listing.h"

#include <cstdio>

#include "core/utf8_text.h"

namespace {

void appendHexEscape(std::string& out, unsigned char byte) {
  char escape[5];
  std::snprintf(escape, sizeof escape, "\\x%02x", byte);
  out += escape;
}

} // namespace

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t index = 0;
  while (index < text.size()) {
    const auto byte = static_cast<unsigned char>(text[index]);
    if (byte >= 0x80) {
      const std::size_t length = utf8SequenceLength(text, index);
      // U+0080..U+009F are control characters too (C2 80..C2 9F).
      if (length == 0 ||
          (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[index + 1]) < 0xA0)) {
        appendHexEscape(out, byte);
        ++index;
      } else {
        out.append(text.substr(index, length));
        index += length;
      }
      continue;
    }
    switch (byte) {
    case '\\':
      out += "\\\\";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    default:
      if (byte < 0x20 || byte == 0x7f) {
        appendHexEscape(out, byte);
      } else {
        out.push_back(static_cast<char>(byte));
      }
    }
    ++index;
  }
  return out;
}

void printVolumeLines(const std::vector<EjectableVolume>& volumes, std::ostream& out) {
  for (const auto& volume : volumes) {
    std::string flags;
    if (volume.isDiskImage) {
      flags = "disk-image";
    }
    if (volume.isTimeMachine) {
      flags += flags.empty() ? "time-machine" : ",time-machine";
    }
    out << printableText(volume.name) << '\t'
        << (volume.sizeText.empty() ? "-" : printableText(volume.sizeText)) << '\t'
        << (flags.empty() ? "-" : flags) << '\t' << printableText(volume.url.string()) << '\n';
  }
}

nlohmann::json volumesJson(const std::vector<EjectableVolume>& volumes) {
  auto array = nlohmann::json::array();
  for (const auto& volume : volumes) {
    array.push_back({{"id", volume.id},
                     {"name", volume.name},
                     {"sizeText", volume.sizeText},
                     {"isDiskImage", volume.isDiskImage},
                     {"isTimeMachine", volume.isTimeMachine},
                     {"mountPath", volume.url.string()}});
  }
  return array;
}

std::string volumesJsonText(const std::vector<EjectableVolume>& volumes) {
  return volumesJson(volumes).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
