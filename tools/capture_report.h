// What the capture prints on stdout: the device's properties and the saved
// image as text, or a single JSON object at the end with --json; failures
// as "bluefin: MESSAGE (code N)" on stderr, or as the JSON error object.
#ifndef BLUEFIN_TOOLS_CAPTURE_REPORT_H
#define BLUEFIN_TOOLS_CAPTURE_REPORT_H

#include <cstdint>
#include <string>

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

class CaptureReport {
 public:
  explicit CaptureReport(bool json) : json_(json) {}

  // As soon as the device is created: printed at once as text, kept for
  // the JSON object.
  void Device(const DeviceProperties &device);
  // The end of a run, exactly one of these two.
  void Success(std::int32_t status, const SavedImage &image);
  void Fail(const Failure &failure);

 private:
  bool json_;
  DeviceProperties device_;
};

}  // namespace bluefin::tool

#endif  // BLUEFIN_TOOLS_CAPTURE_REPORT_H
