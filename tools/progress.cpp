#include "tools/progress.h"

#include <algorithm>

namespace bluefin::tool {
namespace {

constexpr unsigned kBarWidth = 24;  // two cells a part

}  // namespace

std::string Progress::PollText(unsigned count, bool ready) {
  if (ready) {
    return "Finger detected (poll " + std::to_string(count) + ")";
  }
  return "Waiting for a finger on the scanner (poll " + std::to_string(count) + ")";
}

std::string Progress::PartText(unsigned part) {
  part = std::min(part, kImageParts);
  const unsigned percent = 100 * part / kImageParts;
  const unsigned filled = kBarWidth * part / kImageParts;
  std::string percentText = std::to_string(percent);
  percentText.insert(0, 3 - percentText.size(), ' ');
  return "Transferring image [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
         percentText + "%";
}

void Progress::Connecting(const std::string &what) {
  Show("Connecting to " + what + "...");
  Finish();
}

void Progress::Poll(unsigned count, bool ready) {
  Show(PollText(count, ready));
  if (ready) {
    Finish();  // the bar gets a line of its own
  }
}

void Progress::Part(unsigned part) {
  Show(PartText(part));
  if (part >= kImageParts) {
    Finish();
  }
}

void Progress::Show(const std::string &text) {
  if (quiet_) {
    return;
  }
  if (!inPlace_) {
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    return;
  }
  const std::size_t blank = shown_ > text.size() ? shown_ - text.size() : 0;
  std::fprintf(out_, "\r%s%s", text.c_str(), std::string(blank, ' ').c_str());
  std::fflush(out_);
  lineOpen_ = true;
  shown_ = text.size();
}

void Progress::Finish() {
  if (lineOpen_) {
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  lineOpen_ = false;
  shown_ = 0;
}

}  // namespace bluefin::tool
