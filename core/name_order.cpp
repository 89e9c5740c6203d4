#include "core/name_order.h"

#include <dlfcn.h>

#include <wctype.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

#include <unicode/ucol.h>

#include "core/utf8_text.h"

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

// Languages whose order leaves the plain Latin letters as the root order has them (Danish
// puts "aa" after "z", Welsh "ch" after "c", Turkish "I" apart from "i": not these).
constexpr std::string_view untailoredLanguages[] = {"", "en", "fr", "de", "it", "es", "pt", "nl"};

// Letters, digits and spaces only. For such names the root order, ignoring case, is the byte
// order of their lower-case forms (space, then digits, then letters), so no collator is needed.
bool isPlain(const std::string& name) {
  return std::all_of(name.begin(), name.end(), [](char c) {
    return c == ' ' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

// Code points, lower-cased in the locale; an ill-formed byte counts as U+FFFD.
std::wstring lowerCaseCodePoints(std::string_view text, locale_t locale) {
  std::wstring codePoints;
  codePoints.reserve(text.size());
  for (std::size_t position = 0; position < text.size();) {
    const std::size_t length = utf8SequenceLength(text, position);
    if (length == 0) {
      codePoints.push_back(L'\uFFFD');
      ++position;
      continue;
    }
    const auto lead = static_cast<unsigned char>(text[position]);
    wchar_t codePoint = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t index = 1; index < length; ++index) {
      codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[position + index]) & 0x3F);
    }
    codePoints.push_back(static_cast<wchar_t>(towlower_l(static_cast<wint_t>(codePoint), locale)));
    position += length;
  }
  return codePoints;
}

// The locale named when it is installed and UTF-8; C.UTF-8 orders by code point, which is no
// one's language, so the root order serves instead.
locale_t installedUtf8Locale(const std::string& name, const std::string& language) {
  const auto dot = name.find('.');
  if (dot == std::string::npos || language.empty()) {
    return nullptr;
  }
  std::string codeset = name.substr(dot + 1, name.find('@', dot) - dot - 1);
  std::transform(codeset.begin(), codeset.end(), codeset.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (codeset != "utf-8" && codeset != "utf8") {
    return nullptr;
  }
  return newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, name.c_str(), nullptr);
}

} // namespace

struct NameOrder::Collator {
  const CollationLibrary& library;
  UCollator* collator;
};

NameOrder::NameOrder(const std::string& localeName)
    : localeName_(localeName),
      icuLocaleName_(localeName.substr(0, localeName.find_first_of(".@"))) {
  if (icuLocaleName_ == "C" || icuLocaleName_ == "POSIX") {
    icuLocaleName_.clear();
  }
  language_ = icuLocaleName_.substr(0, icuLocaleName_.find_first_of("_-"));
  plainLettersInByteOrder_ =
      std::find(std::begin(untailoredLanguages), std::end(untailoredLanguages), language_) !=
      std::end(untailoredLanguages);
}

NameOrder::~NameOrder() {
  if (collator_) {
    collator_->library.close(collator_->collator);
  }
  if (systemLocale_ != nullptr) {
    freelocale(systemLocale_);
  }
}

locale_t NameOrder::systemLocale() const {
  if (systemLocaleLooked_) {
    return systemLocale_;
  }
  systemLocaleLooked_ = true;
  systemLocale_ = installedUtf8Locale(localeName_, language_);
  // These languages all keep the root order, and so does the C library's collation for any
  // of them: one installed serves the others, and no language at all.
  for (const char* sameOrder : {"en_US.UTF-8", "en_GB.UTF-8", "fr_FR.UTF-8", "de_DE.UTF-8",
                                "es_ES.UTF-8", "it_IT.UTF-8", "pt_BR.UTF-8", "nl_NL.UTF-8"}) {
    if (systemLocale_ != nullptr || !plainLettersInByteOrder_) {
      break;
    }
    systemLocale_ = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, sameOrder, nullptr);
  }
  return systemLocale_;
}

const NameOrder::Collator* NameOrder::collator() const {
  if (collatorOpened_) {
    return collator_.get();
  }
  collatorOpened_ = true;
  const CollationLibrary& library = collationLibrary();
  if (!library.loaded()) {
    return nullptr;
  }
  // An unknown language falls back to the root order.
  UErrorCode status = U_ZERO_ERROR;
  UCollator* opened = library.open(icuLocaleName_.c_str(), &status);
  if (opened == nullptr || U_FAILURE(status)) {
    if (opened != nullptr) {
      library.close(opened);
    }
    return nullptr;
  }
  library.setStrength(opened, UCOL_SECONDARY);
  collator_ = std::make_unique<Collator>(Collator{library, opened});
  return collator_.get();
}

bool NameOrder::lessInSystemLocale(const std::string& left, const std::string& right) const {
  const locale_t locale = systemLocale();
  return wcscoll_l(lowerCaseCodePoints(left, locale).c_str(),
                   lowerCaseCodePoints(right, locale).c_str(), locale) < 0;
}

bool NameOrder::less(const std::string& left, const std::string& right) const {
  const bool plain = plainLettersInByteOrder_ && isPlain(left) && isPlain(right);
  if (!plain && systemLocale() != nullptr) {
    return lessInSystemLocale(left, right);
  }
  const Collator* const collation = plain ? nullptr : collator();
  if (collation == nullptr) {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char a, char b) {
                                          return std::tolower(static_cast<unsigned char>(a)) <
                                                 std::tolower(static_cast<unsigned char>(b));
                                        });
  }
  UErrorCode status = U_ZERO_ERROR;
  return collation->library.compare(collation->collator, left.data(), clampedLength(left),
                                    right.data(), clampedLength(right), &status) == UCOL_LESS;
}
