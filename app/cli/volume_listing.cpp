#include "app/cli/volume_listing.h"

#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence starting at index, 0 when there is none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t index) {
  const auto lead = static_cast<unsigned char>(text[index]);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (text.size() - index < length) {
    return 0;
  }
  for (std::size_t offset = 1; offset < length; ++offset) {
    const auto next = static_cast<unsigned char>(text[index + offset]);
    if (next < (offset == 1 ? low : 0x80) || next > (offset == 1 ? high : 0xBF)) {
      return 0;
    }
  }
  return length;
}

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
