#pragma once

#include <memory>
#include <string>

// Compares volume names the way the user reads them: ignoring case, not accents, in the order
// of the user's language. ICU's collation is loaded on first use, so that a program that never
// compares two names does not load ICU at all.
class NameOrder {
 public:
  // An ICU locale name ("de_DE"); empty for no particular language.
  explicit NameOrder(const std::string& localeName);
  ~NameOrder();
  NameOrder(const NameOrder&) = delete;
  NameOrder& operator=(const NameOrder&) = delete;

  // Invalid UTF-8 compares as replacement characters; the names keep their bytes.
  bool less(const std::string& left, const std::string& right) const;

 private:
  struct Collator;
  std::unique_ptr<Collator> collator_;
};
