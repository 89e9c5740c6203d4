#include "core/utf8_text.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

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

std::string leadingCharacters(std::string_view text, std::size_t count) {
  // Every character takes at least one byte: a short enough text is whole.
  if (text.size() <= count) {
    return std::string(text);
  }
  UErrorCode status = U_ZERO_ERROR;
  UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  std::unique_ptr<UText, decltype(&utext_close)> closer(utext, utext_close);
  std::unique_ptr<icu::BreakIterator> characters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !characters) {
    return std::string(text.substr(0, count));
  }
  characters->setText(utext, status);
  if (U_FAILURE(status)) {
    return std::string(text.substr(0, count));
  }
  int32_t end = characters->first();
  for (std::size_t taken = 0; taken < count; ++taken) {
    const int32_t next = characters->next();
    if (next == icu::BreakIterator::DONE) {
      return std::string(text);
    }
    end = next;
  }
  // On UTF-8 text the iterator's positions are byte offsets.
  return std::string(text.substr(0, static_cast<std::size_t>(end)));
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}
