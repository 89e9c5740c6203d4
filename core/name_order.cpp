#include "core/name_order.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>

#include <unicode/ucol.h>

namespace {

// ICU's C entry points carry its version ("ucol_open_72"); its headers know the names.
#define VARNELO_ICU_TEXT(name) VARNELO_ICU_TEXT_EXPANDED(name)
#define VARNELO_ICU_TEXT_EXPANDED(name) #name

struct CollationLibrary {
  decltype(&ucol_open) open = nullptr;
  decltype(&ucol_setStrength) setStrength = nullptr;
  decltype(&ucol_strcollUTF8) compare = nullptr;
  decltype(&ucol_close) close = nullptr;

  bool loaded() const { return open && setStrength && compare && close; }
};

// Loaded once and kept for the life of the process; none when ICU cannot be loaded.
const CollationLibrary& collationLibrary() {
  static const CollationLibrary library = [] {
    CollationLibrary found;
    void* handle =
        dlopen("libicui18n.so." VARNELO_ICU_TEXT(U_ICU_VERSION_MAJOR_NUM), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      return found;
    }
    found.open = reinterpret_cast<decltype(found.open)>(dlsym(handle, VARNELO_ICU_TEXT(ucol_open)));
    found.setStrength = reinterpret_cast<decltype(found.setStrength)>(
        dlsym(handle, VARNELO_ICU_TEXT(ucol_setStrength)));
    found.compare = reinterpret_cast<decltype(found.compare)>(
        dlsym(handle, VARNELO_ICU_TEXT(ucol_strcollUTF8)));
    found.close =
        reinterpret_cast<decltype(found.close)>(dlsym(handle, VARNELO_ICU_TEXT(ucol_close)));
    return found;
  }();
  return library;
}

int32_t clampedLength(const std::string& text) {
  return static_cast<int32_t>(
      std::min<std::size_t>(text.size(), std::numeric_limits<int32_t>::max()));
}

} // namespace

struct NameOrder::Collator {
  const CollationLibrary& library;
  UCollator* collator;
};

NameOrder::NameOrder(const std::string& localeName) {
  const CollationLibrary& library = collationLibrary();
  if (!library.loaded()) {
    return;
  }
  // An unknown language falls back to the root order.
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = library.open(localeName.c_str(), &status);
  if (collator == nullptr || U_FAILURE(status)) {
    if (collator != nullptr) {
      library.close(collator);
    }
    return;
  }
  library.setStrength(collator, UCOL_SECONDARY);
  collator_ = std::make_unique<Collator>(Collator{library, collator});
}

NameOrder::~NameOrder() {
  if (collator_) {
    collator_->library.close(collator_->collator);
  }
}

bool NameOrder::less(const std::string& left, const std::string& right) const {
  if (!collator_) {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char a, char b) {
                                          return std::tolower(static_cast<unsigned char>(a)) <
                                                 std::tolower(static_cast<unsigned char>(b));
                                        });
  }
  UErrorCode status = U_ZERO_ERROR;
  return collator_->library.compare(collator_->collator, left.data(), clampedLength(left),
                                    right.data(), clampedLength(right), &status) == UCOL_LESS;
}
