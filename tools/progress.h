// What a person watching the capture sees on stderr: a line while the
// connection opens, one line while the scanner waits for a finger, with the
// poll count, then a bar while the image comes over. On a terminal each redraws its line in place; anywhere
// else (a pipe, a file, a test) every update is a plain line of its own, so
// a log or a script reads every step.
#ifndef BLUEFIN_TOOLS_PROGRESS_H
#define BLUEFIN_TOOLS_PROGRESS_H

#include <cstdio>
#include <string>

namespace bluefin::tool {

// The scanner sends its image in this many parts, one progress call each.
inline constexpr unsigned kImageParts = 12;

class Progress {
 public:
  // A quiet one shows nothing.
  Progress(std::FILE *out, bool inPlace, bool quiet = false) : out_(out), inPlace_(inPlace), quiet_(quiet) {}

  // The link and the opening exchange are about to run; what names the
  // scanner, e.g. its address.
  void Connecting(const std::string &what);
  // Poll number count (from 1) found the scanner without (ready false) or
  // with an image.
  void Poll(unsigned count, bool ready);
  // Part number part (from 1) of the image has arrived.
  void Part(unsigned part);
  // Ends a line left open for redrawing; call before anything else is
  // written to the same stream.
  void Finish();

  static std::string PollText(unsigned count, bool ready);
  static std::string PartText(unsigned part);

 private:
  void Show(const std::string &text);

  std::FILE *out_;
  bool inPlace_;
  bool quiet_;
  bool lineOpen_ = false;
  std::size_t shown_ = 0;  // length of the open line, to blank what is left of it
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_PROGRESS_H
