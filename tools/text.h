// Text conversions between the command line (UTF-8 bytes, not always valid)
// and the host's wide strings.
#ifndef BLUEFIN_TOOLS_TEXT_H
#define BLUEFIN_TOOLS_TEXT_H

#include <string>
#include <string_view>

namespace bluefin::tool {

// Calls visit(codePoint) for each character of text; each byte that does
// not start a well-formed UTF-8 sequence (overlong forms, surrogates and
// values past U+10FFFF included) yields U+FFFD and decoding resumes at the
// next byte.
template <typename Visit>
void ForEachCodePoint(std::string_view text, Visit visit);

std::wstring FromUtf8(std::string_view text);

// The code point as UTF-8 appended to out.
void AppendUtf8(char32_t code, std::string *out);

// Decodes one character at text[*index] and advances *index past it.
char32_t DecodeUtf8(std::string_view text, std::size_t *index);

template <typename Visit>
void ForEachCodePoint(std::string_view text, Visit visit) {
  std::size_t index = 0;
  while (index < text.size()) {
    visit(DecodeUtf8(text, &index));
  }
}

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_TEXT_H
