#include <memory>

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "core/utf8_text.h"

// Apart from the other UTF-8 helpers: a program that only escapes text loads no ICU for it.
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
