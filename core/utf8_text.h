#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Small UTF-8 helpers for text that comes from files and build tables rather than from us.

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Length of the well-formed sequence starting at `position`, or 0 when it is ill-formed.
std::size_t utf8SequenceLength(std::string_view bytes, std::size_t position);

// The bytes read as UTF-8, each ill-formed sequence replaced by U+FFFD.
std::string replacingInvalidUtf8(std::string_view bytes);

// The first `count` characters as the user perceives them (grapheme clusters) of well-formed
// UTF-8 text; the whole text when it is shorter.
std::string leadingCharacters(std::string_view text, std::size_t count);

// A name or path made safe for one terminal line: valid UTF-8 stays, except what could hide or
// reorder the text around it. Control characters, bytes that are not UTF-8, bidirectional
// controls and invisible format characters become escapes ("\n", "\x1b", "\xff", "\u202e");
// a backslash doubles.
std::string printableText(std::string_view text);

// The text without the spaces, tabs and carriage returns at either end (lines of config files).
std::string_view trimmed(std::string_view text);
