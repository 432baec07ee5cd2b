#include "tools/capture_report.h"

#include <cstdio>

#include "tools/json.h"

namespace bluefin::tool {

void CaptureReport::Device(const DeviceProperties &device) {
  device_ = device;
  if (json_) {
    return;
  }
  std::printf("Identifier:    %s\n", device.id.c_str());
  std::printf("Display name:  %s\n", device.displayName.c_str());
  std::printf("Make:          %s\n", device.make.c_str());
  std::printf("Model:         %s\n", device.model.c_str());
  std::printf("Serial number: %s\n", device.serialNumber.c_str());
  std::fflush(stdout);  // before the progress on stderr
}

void CaptureReport::Success(std::int32_t status, const SavedImage &image) {
  if (!json_) {
    std::printf("Saved %s: %u x %u pixels, %g dpi\n", image.path.c_str(), image.width, image.height,
                image.resolution);
    std::fflush(stdout);
    return;
  }
  JsonObject imageObject;
  imageObject.Add("path", image.path)
      .Add("width", image.width)
      .Add("height", image.height)
      .Add("resolution", image.resolution);
  JsonObject object;
  object.Add("id", device_.id)
      .Add("displayName", device_.displayName)
      .Add("make", device_.make)
      .Add("model", device_.model)
      .Add("serialNumber", device_.serialNumber)
      .Add("status", status)
      .Add("image", imageObject);
  std::printf("%s\n", object.Text().c_str());
  std::fflush(stdout);
}

void CaptureReport::Fail(const Failure &failure) {
  if (!json_) {
    std::fprintf(stderr, "%s\n", FailureLine(failure).c_str());
    return;
  }
  JsonObject error;
  error.Add("code", failure.code).Add("message", failure.message);
  JsonObject object;
  object.Add("error", error);
  std::printf("%s\n", object.Text().c_str());
  std::fflush(stdout);
}

}  // namespace bluefin::tool
