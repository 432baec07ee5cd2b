#include "tools/failure.h"

#include <cstring>

namespace bluefin::tool {
namespace {

struct CodeText {
  VResult code;
  const char *text;
};

// For the codes that the host and the module record without a message.
constexpr CodeText kCodeTexts[] = {
    {V_E_FAILED, "Operation failed"},
    {V_E_OUT_OF_MEMORY, "Out of memory"},
    {V_E_NOT_SUPPORTED_VERSION, "Interface version not supported"},
    {V_E_NOT_SUPPORTED, "Not supported"},
    {V_E_INVALID_OPERATION, "Operation not valid in the present state"},
    {V_E_OVERFLOW, "Byte count out of range"},
    {V_E_ARGUMENT, "Invalid argument"},
    {V_E_ARGUMENT_NULL, "Null argument"},
    {V_E_ARGUMENT_OUT_OF_RANGE, "Argument out of range"},
    {V_E_INVALID_DATA, "Invalid data"},
    {V_E_END_OF_STREAM, "The scanner closed the connection"},
    {V_E_NOT_FOUND, "Not found"},
    {V_E_CORRUPTED, "Corrupted data"},
    {V_E_TIMEOUT, "Timed out"},
    {V_E_WIN32, "Platform call failed"},
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

void AppendWord(std::string_view word, std::string *out) {
  if (word.empty()) {
    return;
  }
  if (!out->empty()) {
    out->push_back(' ');
  }
  out->append(word);
}

}  // namespace

std::string FailureMessage(VResult code, std::string_view message, std::string_view callStack) {
  std::string text;
  AppendWord(Trim(message), &text);
  while (!callStack.empty()) {
    const std::size_t end = callStack.find('\n');
    AppendWord(Trim(callStack.substr(0, end)), &text);
    callStack.remove_prefix(end == std::string_view::npos ? callStack.size() : end + 1);
  }
  if (text.empty()) {
    text = "Failed";
    for (const CodeText &entry : kCodeTexts) {
      if (entry.code == code) {
        text = entry.text;
      }
    }
  }
  return text;
}

std::string FailedCall(std::string_view callStack) {
  const std::string_view line = Trim(callStack.substr(0, callStack.find('\n')));
  constexpr std::string_view kAt = "at ";
  if (line.substr(0, kAt.size()) != kAt) {
    return std::string();
  }
  return std::string(Trim(line.substr(kAt.size())));
}

std::string FailureLine(const Failure &failure) {
  return "bluefin: " + failure.message + " (code " + std::to_string(failure.code) + ")";
}

std::string FailureText(const Failure &failure) {
  std::string text = FailureLine(failure) + "\n";
  if (!failure.hint.empty()) {
    text += "bluefin: hint: " + failure.hint + "\n";
  }
  return text;
}

Failure FileFailure(std::string_view action, std::string_view path, int error) {
  Failure failure{V_E_WIN32, std::string(action) + " " + std::string(path) + ": " + std::strerror(error)};
  failure.platformCode = error;
  return failure;
}

}  // namespace bluefin::tool
