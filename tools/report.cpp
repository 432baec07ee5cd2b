#include "tools/report.h"

#include <cstdio>

#include "tools/interrupts.h"
#include "tools/json.h"
#include "tools/streams.h"
#include "v_biometrics.h"

namespace bluefin::tool {
namespace {

JsonObject ImageObject(const SavedImage &image) {
  JsonObject object;
  object.Add("path", image.path)
      .Add("width", image.width)
      .Add("height", image.height)
      .Add("resolution", image.resolution);
  return object;
}

std::string SavedLine(const SavedImage &image) {
  char dpi[32];
  std::snprintf(dpi, sizeof(dpi), "%g", image.resolution);
  return "Saved " + image.path + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
         " pixels, " + dpi + " dpi\n";
}

}  // namespace

bool Report::Device(const DeviceProperties &device, Failure *failure) {
  device_ = device;
  hasDevice_ = true;
  if (json_) {
    return true;
  }
  return WriteStdout("Identifier:    " + device.id + "\n" +               //
                         "Display name:  " + device.displayName + "\n" +  //
                         "Make:          " + device.make + "\n" +         //
                         "Model:         " + device.model + "\n" +        //
                         "Serial number: " + device.serialNumber + "\n",
                     failure);
}

bool Report::Saved(const SavedImage &image, Failure *failure) {
  images_.push_back(image);
  return json_ || WriteStdout(SavedLine(image), failure);
}

std::string Report::ObjectText(std::int32_t status) const {
  JsonObject object;
  if (hasDevice_) {
    object.Add("id", device_.id)
        .Add("displayName", device_.displayName)
        .Add("make", device_.make)
        .Add("model", device_.model)
        .Add("serialNumber", device_.serialNumber);
  }
  object.Add("status", status);
  if (listImages_) {
    JsonArray images;
    for (const SavedImage &image : images_) {
      images.Add(ImageObject(image));
    }
    object.Add("images", images);
  } else if (!images_.empty()) {
    object.Add("image", ImageObject(images_.back()));
  }
  return object.Text() + "\n";
}

bool Report::Captured(Failure *failure) {
  return !json_ || WriteStdout(ObjectText(V_BIOMETRIC_STATUS_OK), failure);
}

bool Report::Identified(Failure *failure) {
  if (!json_) {
    return true;
  }
  JsonObject object;
  object.Add("id", device_.id)
      .Add("displayName", device_.displayName)
      .Add("make", device_.make)
      .Add("model", device_.model)
      .Add("serialNumber", device_.serialNumber);
  return WriteStdout(object.Text() + "\n", failure);
}

bool Report::Cancelled(int signal, Failure *failure) {
  WriteStderr(std::string("Cancelled (") + SignalName(signal) + ").\n");
  return !json_ || WriteStdout(ObjectText(V_BIOMETRIC_STATUS_CANCELED), failure);
}

void Report::Fail(const Failure &failure) {
  if (json_) {
    JsonObject error;
    error.Add("code", failure.code).Add("message", failure.message);
    if (!failure.hint.empty()) {
      error.Add("hint", failure.hint);
    }
    JsonObject object;
    object.Add("error", error);
    Failure unwritten;
    if (WriteStdout(object.Text() + "\n", &unwritten)) {
      return;
    }
  }
  WriteStderr(FailureText(failure));
}

}  // namespace bluefin::tool
