#include "tools/json.h"

#include <cmath>
#include <cstdio>

#include "tools/text.h"

namespace bluefin::tool {

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  ForEachCodePoint(text, [&out](char32_t code) {
    switch (code) {
      case U'"':
        out += "\\\"";
        return;
      case U'\\':
        out += "\\\\";
        return;
      case U'\b':
        out += "\\b";
        return;
      case U'\f':
        out += "\\f";
        return;
      case U'\n':
        out += "\\n";
        return;
      case U'\r':
        out += "\\r";
        return;
      case U'\t':
        out += "\\t";
        return;
      default:
        break;
    }
    if (code < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04X", static_cast<unsigned>(code));
      out += escape;
      return;
    }
    AppendUtf8(code, &out);
  });
  out += '"';
  return out;
}

void JsonObject::Key(std::string_view key) {
  if (!members_.empty()) {
    members_ += ", ";
  }
  members_ += JsonString(key);
  members_ += ": ";
}

JsonObject &JsonObject::Add(std::string_view key, std::string_view value) {
  Key(key);
  members_ += JsonString(value);
  return *this;
}

JsonObject &JsonObject::Add(std::string_view key, std::int64_t value) {
  Key(key);
  members_ += std::to_string(value);
  return *this;
}

JsonObject &JsonObject::Add(std::string_view key, double value) {
  Key(key);
  if (!std::isfinite(value)) {
    members_ += "null";
  } else if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    members_ += std::to_string(static_cast<std::int64_t>(value));
  } else {
    char number[32];
    std::snprintf(number, sizeof(number), "%.17g", value);
    members_ += number;
  }
  return *this;
}

JsonObject &JsonObject::Add(std::string_view key, const JsonObject &value) {
  Key(key);
  members_ += value.Text();
  return *this;
}

JsonObject &JsonObject::Add(std::string_view key, const JsonArray &value) {
  Key(key);
  members_ += value.Text();
  return *this;
}

JsonObject &JsonObject::AddBool(std::string_view key, bool value) {
  Key(key);
  members_ += value ? "true" : "false";
  return *this;
}

JsonArray &JsonArray::Add(const JsonObject &value) {
  if (!elements_.empty()) {
    elements_ += ", ";
  }
  elements_ += value.Text();
  return *this;
}

}  // namespace bluefin::tool
