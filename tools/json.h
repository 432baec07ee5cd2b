// Just enough JSON for the command's one-object answers: strings, integers,
// numbers, booleans, nested objects and arrays of objects, written in
// insertion order on one line.
#ifndef BLUEFIN_TOOLS_JSON_H
#define BLUEFIN_TOOLS_JSON_H

#include <cstdint>
#include <string>
#include <string_view>

namespace bluefin::tool {

// text as a JSON string literal, quotes included. Bytes that are not valid
// UTF-8 become U+FFFD, so the output is always valid JSON whatever a file
// name or a device's text holds.
std::string JsonString(std::string_view text);

class JsonArray;

class JsonObject {
 public:
  JsonObject &Add(std::string_view key, std::string_view value);
  JsonObject &Add(std::string_view key, const char *value) { return Add(key, std::string_view(value)); }
  JsonObject &Add(std::string_view key, std::int64_t value);
  JsonObject &Add(std::string_view key, int value) { return Add(key, std::int64_t{value}); }
  JsonObject &Add(std::string_view key, std::uint32_t value) { return Add(key, std::int64_t{value}); }
  // Integral values print without a fraction ("508"); non-finite ones as null.
  JsonObject &Add(std::string_view key, double value);
  JsonObject &Add(std::string_view key, const JsonObject &value);
  JsonObject &Add(std::string_view key, const JsonArray &value);
  // Named apart: a bool overload would catch pointers of every kind.
  JsonObject &AddBool(std::string_view key, bool value);

  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(std::string_view key);

  std::string members_;
};

class JsonArray {
 public:
  JsonArray &Add(const JsonObject &value);
  bool Empty() const { return elements_.empty(); }
  std::string Text() const { return "[" + elements_ + "]"; }

 private:
  std::string elements_;
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_JSON_H
