#pragma once

#include <locale.h>

#include <memory>
#include <string>

// Compares volume names the way the user reads them: ignoring case, not accents, in the order
// of the user's language. The C library's collation serves when the user's UTF-8 locale is
// installed (for a language that keeps the root order, a locale of any such language will
// do); ICU's, loaded only then, when none is. Plain names ("USB DISK 2") need neither.
class NameOrder {
 public:
  // A locale as the environment names it ("de_DE.UTF-8", "sv_SE@euro"); empty, "C" or
  // "POSIX" for no particular language.
  explicit NameOrder(const std::string& localeName);
  ~NameOrder();
  NameOrder(const NameOrder&) = delete;
  NameOrder& operator=(const NameOrder&) = delete;

  // Invalid UTF-8 compares as replacement characters; the names keep their bytes.
  bool less(const std::string& left, const std::string& right) const;

 private:
  struct Collator;
  // Opened on first need; none when ICU cannot be loaded.
  const Collator* collator() const;
  // Looked up on first need; none when not installed.
  locale_t systemLocale() const;
  bool lessInSystemLocale(const std::string& left, const std::string& right) const;

  std::string localeName_;
  std::string icuLocaleName_;
  std::string language_;
  // The user's locale from the C library, when it is installed and UTF-8, or one with the
  // same order.
  mutable bool systemLocaleLooked_ = false;
  mutable locale_t systemLocale_ = nullptr;
  bool plainLettersInByteOrder_ = false;
  mutable bool collatorOpened_ = false;
  mutable std::unique_ptr<Collator> collator_;
};
