#include "tools/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>

namespace bluefin::tool {
namespace {

constexpr unsigned kMaxNumberWidth = 9;
constexpr int kTemporaryNameTries = 100;

// The conversion of a --count pattern, found once.
struct Conversion {
  std::size_t start = 0;
  std::size_t end = 0;  // one past the 'd'
  bool zeroFill = false;
  unsigned width = 0;
};

Failure PatternFailure(const std::string &pattern, const std::string &why) {
  return Failure{V_E_ARGUMENT, "Output pattern " + pattern + " " + why +
                                   ": with --count it needs one number, like finger-%02d.png"};
}

std::optional<Conversion> FindConversion(const std::string &pattern, Failure *failure) {
  std::optional<Conversion> found;
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] != '%') {
      continue;
    }
    if (at + 1 < pattern.size() && pattern[at + 1] == '%') {
      ++at;
      continue;
    }
    Conversion conversion{at};
    std::size_t next = at + 1;
    if (next < pattern.size() && pattern[next] == '0') {
      conversion.zeroFill = true;
      ++next;
    }
    while (next < pattern.size() && pattern[next] >= '0' && pattern[next] <= '9' &&
           conversion.width <= kMaxNumberWidth) {
      conversion.width = conversion.width * 10 + static_cast<unsigned>(pattern[next] - '0');
      ++next;
    }
    if (next >= pattern.size() || pattern[next] != 'd' || conversion.width > kMaxNumberWidth) {
      *failure = PatternFailure(pattern, "has a % that is neither %d nor %%");
      return std::nullopt;
    }
    if (found) {
      *failure = PatternFailure(pattern, "has more than one %d");
      return std::nullopt;
    }
    conversion.end = next + 1;
    found = conversion;
    at = next;
  }
  if (!found) {
    *failure = PatternFailure(pattern, "has no %d");
  }
  return found;
}

std::string Unescape(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    out.push_back(text[at]);
    if (text[at] == '%' && at + 1 < text.size() && text[at + 1] == '%') {
      ++at;
    }
  }
  return out;
}

std::string Number(unsigned value, const Conversion &conversion) {
  std::string digits = std::to_string(value);
  if (digits.size() < conversion.width) {
    digits.insert(0, conversion.width - digits.size(), conversion.zeroFill ? '0' : ' ');
  }
  return digits;
}

std::string FolderOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What writing to path replaces: path itself, or the file a symbolic link
// at path leads to. A link that leads nowhere is replaced itself.
std::string Destination(const std::string &path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
    return path;
  }
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// A new, empty file next to destination, named after it and hidden; its
// mode is the one a new file gets (0666 less the umask).
int CreateTemporary(const std::string &destination, std::string *temporary) {
  static unsigned counter = 0;
  const std::string stem = FolderOf(destination) + "/." + NameOf(destination) + ".";
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    *temporary = stem + std::to_string(getpid()) + "-" + std::to_string(++counter);
    const int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

}  // namespace

std::optional<std::vector<std::string>> OutputNames(const std::string &pattern, std::optional<unsigned> count,
                                                    Failure *failure) {
  if (!count) {
    return std::vector<std::string>{pattern};
  }
  const std::optional<Conversion> conversion = FindConversion(pattern, failure);
  if (!conversion) {
    return std::nullopt;
  }
  const std::string before = Unescape(std::string_view(pattern).substr(0, conversion->start));
  const std::string after = Unescape(std::string_view(pattern).substr(conversion->end));
  std::vector<std::string> names;
  for (unsigned number = 1; number <= *count; ++number) {
    names.push_back(before + Number(number, *conversion) + after);
  }
  return names;
}

bool CheckOutputPath(const std::string &path, Failure *failure) {
  const std::string destination = Destination(path);
  struct stat status {};
  if (stat(destination.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      *failure = FileFailure("Cannot write", path, EISDIR);
      return false;
    }
    if (!S_ISREG(status.st_mode)) {
      return true;  // a FIFO or a device is written in place
    }
  }
  std::string temporary;
  const int fd = CreateTemporary(destination, &temporary);
  if (fd < 0) {
    *failure = FileFailure("Cannot write", path, errno);
    return false;
  }
  close(fd);
  unlink(temporary.c_str());
  return true;
}

void ReplacementFile::Abandon() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

bool ReplacementFile::Open(const std::string &path, Failure *failure) {
  Abandon();
  path_ = path;
  destination_ = Destination(path);
  struct stat existing {};
  const bool exists = stat(destination_.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    *failure = FileFailure("Cannot write", path_, EISDIR);
    return false;
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    isRegular_ = false;
    stream_ = std::fopen(destination_.c_str(), "wb");
    if (stream_ == nullptr) {
      *failure = FileFailure("Cannot write", path_, errno);
      return false;
    }
    return true;
  }
  isRegular_ = true;
  const int fd = CreateTemporary(destination_, &temporary_);
  if (fd < 0) {
    *failure = FileFailure("Cannot write", path_, errno);
    temporary_.clear();
    return false;
  }
  // The replacement keeps the permissions the user gave the file.
  if (exists) {
    fchmod(fd, existing.st_mode & 07777);
  }
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    *failure = FileFailure("Cannot write", path_, errno);
    close(fd);
    Abandon();
    return false;
  }
  return true;
}

bool ReplacementFile::Commit(Failure *failure) {
  bool wrote = true;
  int error = 0;
  // A full disk may show only when the buffer goes out.
  if (std::fflush(stream_) != 0) {
    wrote = false;
    error = errno;
  }
  if (wrote && isRegular_ && fsync(fileno(stream_)) != 0) {
    wrote = false;
    error = errno;
  }
  const int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (wrote && closed != 0) {
    wrote = false;
    error = errno;
  }
  if (wrote && isRegular_ && rename(temporary_.c_str(), destination_.c_str()) != 0) {
    wrote = false;
    error = errno;
  }
  if (wrote) {
    temporary_.clear();
    return true;
  }
  Abandon();
  *failure = FileFailure("Cannot write", path_, error != 0 ? error : EIO);
  return false;
}

}  // namespace bluefin::tool
