#include "tools/text.h"

namespace bluefin::tool {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

char32_t DecodeUtf8(std::string_view text, std::size_t *index) {
  const auto lead = static_cast<unsigned char>(text[*index]);
  ++*index;
  if (lead < 0x80) {
    return lead;
  }
  std::size_t length = 0;
  char32_t code = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return kReplacement;  // a stray continuation byte or 0xF8..0xFF
  }
  const std::size_t start = *index;
  if (text.size() - start < length - 1) {
    return kReplacement;
  }
  for (std::size_t i = 0; i < length - 1; ++i) {
    const auto byte = static_cast<unsigned char>(text[start + i]);
    if (!IsContinuation(byte)) {
      return kReplacement;
    }
    code = (code << 6) | (byte & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
    return kReplacement;
  }
  *index = start + length - 1;
  return code;
}

void AppendUtf8(char32_t code, std::string *out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring wide;
  ForEachCodePoint(text, [&wide](char32_t code) {
    if constexpr (sizeof(wchar_t) == 2) {
      if (code >= 0x10000) {
        code -= 0x10000;
        wide.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
        wide.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        return;
      }
    }
    wide.push_back(static_cast<wchar_t>(code));
  });
  return wide;
}

}  // namespace bluefin::tool
