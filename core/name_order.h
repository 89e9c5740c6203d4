#pragma once

#include <memory>
#include <string>

// Compares volume names the way the user reads them: ignoring case, not accents, in the order
// of the user's language. ICU's collation is loaded only when names need it, so that listing
// volumes with plain names ("USB DISK 2") does not load ICU at all.
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
  // Opened on first need; none when ICU cannot be loaded.
  const Collator* collator() const;

  std::string localeName_;
  bool plainLettersInByteOrder_ = false;
  mutable bool collatorOpened_ = false;
  mutable std::unique_ptr<Collator> collator_;
};
