// What a device command prints on stdout: the device's properties and each
// saved image as text, or a single JSON object at the end with --json;
// failures as "bluefin: MESSAGE (code N)" on stderr, or as the JSON error
// object. Every write to stdout is checked: a result that did not reach its
// reader fails the command.
#ifndef BLUEFIN_TOOLS_REPORT_H
#define BLUEFIN_TOOLS_REPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/failure.h"

namespace bluefin::tool {

struct DeviceProperties {
  std::string id;
  std::string displayName;
  std::string make;
  std::string model;
  std::string serialNumber;
};

struct SavedImage {
  std::string path;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double resolution = 0;  // dots per inch
};

class Report {
 public:
  // listImages: the JSON object names its images in an "images" array
  // (capture --count) rather than one "image" object.
  explicit Report(bool json, bool listImages = false) : json_(json), listImages_(listImages) {}

  // Each false, with the failure, when stdout did not take what was written.
  // As soon as the device is created: printed at once as text, kept for
  // the JSON object.
  bool Device(const DeviceProperties &device, Failure *failure);
  // An image was saved: "Saved PATH: ..." at once as text, kept for JSON.
  bool Saved(const SavedImage &image, Failure *failure);

  // The end of a run, exactly one of these.
  // Every capture ended with status 1 and its image saved.
  bool Captured(Failure *failure);
  // The device's identity alone (info).
  bool Identified(Failure *failure);
  // A signal cancelled the run: status 2, the images saved before it.
  bool Cancelled(int signal, Failure *failure);
  // On stderr without --json; with it, the error object on stdout, or on
  // stderr when stdout fails too.
  void Fail(const Failure &failure);

 private:
  std::string ObjectText(std::int32_t status) const;

  bool json_;
  bool listImages_;
  bool hasDevice_ = false;
  DeviceProperties device_;
  std::vector<SavedImage> images_;
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_REPORT_H
