#include "core/utf8_text.h"

#include <cstdio>

std::size_t utf8SequenceLength(std::string_view bytes, std::size_t position) {
  const auto byte = [&](std::size_t index) {
    return static_cast<unsigned char>(bytes[position + index]);
  };
  const std::size_t available = bytes.size() - position;
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) {
      low = 0xA0; // overlong
    } else if (lead == 0xED) {
      high = 0x9F; // surrogates
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) {
      low = 0x90; // overlong
    } else if (lead == 0xF4) {
      high = 0x8F; // past U+10FFFF
    }
  } else {
    return 0;
  }
  if (available < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t index = 2; index < length; ++index) {
    if (byte(index) < 0x80 || byte(index) > 0xBF) {
      return 0;
    }
  }
  return length;
}

bool isValidUtf8(std::string_view bytes) {
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::size_t length = utf8SequenceLength(bytes, position);
    if (length == 0) {
      return false;
    }
    position += length;
  }
  return true;
}

std::string replacingInvalidUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t position = 0;
  while (position < bytes.size()) {
    const std::size_t length = utf8SequenceLength(bytes, position);
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      ++position;
    } else {
      text.append(bytes.substr(position, length));
      position += length;
    }
  }
  return text;
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

namespace {

// The code point of a well-formed sequence of `length` bytes.
char32_t decodedCodePoint(std::string_view bytes, std::size_t position, std::size_t length) {
  const auto byte = [&](std::size_t index) {
    return static_cast<char32_t>(static_cast<unsigned char>(bytes[position + index]));
  };
  if (length == 1) {
    return byte(0);
  }
  char32_t codePoint = byte(0) & (0xFFu >> (length + 1));
  for (std::size_t index = 1; index < length; ++index) {
    codePoint = (codePoint << 6) | (byte(index) & 0x3F);
  }
  return codePoint;
}

// Characters a terminal does not show as themselves: C1 controls, the bidirectional controls
// (U+202E turns the rest of a line around), line separators, and invisible format characters
// that hide text (tags, word joiners, the byte-order mark). The joiners U+200C and U+200D stay:
// emoji sequences and several scripts are written with them.
bool hidesOrReorders(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0xAD || c == 0x61C || c == 0x180E || c == 0x200B ||
         c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) ||
         c == 0xE0001 || (c >= 0xE0020 && c <= 0xE007F);
}

void appendEscape(std::string& out, const char* format, unsigned value) {
  char escape[12];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

} // namespace

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t index = 0;
  while (index < text.size()) {
    const auto byte = static_cast<unsigned char>(text[index]);
    const std::size_t length = utf8SequenceLength(text, index);
    if (length == 0) {
      appendEscape(out, "\\x%02x", byte);
      ++index;
      continue;
    }
    const char32_t codePoint = decodedCodePoint(text, index, length);
    switch (codePoint) {
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
      if (codePoint < 0x20 || codePoint == 0x7F) {
        appendEscape(out, "\\x%02x", byte);
      } else if (hidesOrReorders(codePoint)) {
        appendEscape(out, codePoint > 0xFFFF ? "\\U%08x" : "\\u%04x",
                     static_cast<unsigned>(codePoint));
      } else {
        out.append(text.substr(index, length));
      }
    }
    index += length;
  }
  return out;
}
