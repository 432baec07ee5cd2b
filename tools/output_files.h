// Where captured images go: the names a --count pattern gives, the checks
// made before the scanner is touched, and the replacement of a file only by
// a complete one.
#ifndef BLUEFIN_TOOLS_OUTPUT_FILES_H
#define BLUEFIN_TOOLS_OUTPUT_FILES_H

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/failure.h"

namespace bluefin::tool {

// The file names for count captures. Without a count the pattern is the
// one literal name. With one it must hold exactly one number conversion,
// %d with an optional 0 flag and width ("finger-%02d.png"), and %% for a
// percent sign; the captures are numbered from 1.
std::optional<std::vector<std::string>> OutputNames(const std::string &pattern, std::optional<unsigned> count,
                                                    Failure *failure);

// Whether an image can be saved at path, checked before anything connects:
// not a directory, and a new file can be made in its folder (which exists,
// is a folder, may be written and is not on a read-only file system).
bool CheckOutputPath(const std::string &path, Failure *failure);

// A file being written in place of path: a temporary file in the target's
// folder that replaces the target only once Commit has written all of it,
// so that a failed write (a full disk, a file size limit) leaves whatever
// was there before. A symbolic link is followed, so the link stays and its
// target is replaced. A target that exists but is not a regular file (a
// FIFO, a device) is written directly.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile() { Abandon(); }
  ReplacementFile(const ReplacementFile &) = delete;
  ReplacementFile &operator=(const ReplacementFile &) = delete;

  // path appears in messages as the user gave it.
  bool Open(const std::string &path, Failure *failure);
  std::FILE *Stream() const { return stream_; }
  // Flushes, syncs and closes the stream and renames the temporary file
  // over the target; on failure nothing of the new file stays.
  bool Commit(Failure *failure);
  // Closes the stream and removes the temporary file: a write failed.
  void Abandon();

 private:
  std::string path_;         // as the user gave it
  std::string destination_;  // what gets replaced
  std::string temporary_;    // empty when writing directly
  std::FILE *stream_ = nullptr;
  bool isRegular_ = true;  // what the stream writes is a file of ours
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_OUTPUT_FILES_H
