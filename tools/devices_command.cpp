// devices: the Bluetooth devices BlueZ knows (paired, or seen by a scan),
// asked of bluetoothd over the system bus through its object manager.
// sd-bus takes the bus from DBUS_SYSTEM_BUS_ADDRESS when that is set.
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/failure.h"
#include "tools/json.h"
#include "tools/report.h"
#include "tools/streams.h"

namespace bluefin::tool {
namespace {

constexpr char kBlueZService[] = "org.bluez";
constexpr char kObjectManager[] = "org.freedesktop.DBus.ObjectManager";
constexpr char kDeviceInterface[] = "org.bluez.Device1";
// The Serial Port service class, which a scanner's one RFCOMM service is.
constexpr char kSerialPortUuid[] = "00001101-0000-1000-8000-00805f9b34fb";

struct KnownDevice {
  std::string address;
  std::string name;
  bool paired = false;
  bool connected = false;
  bool serialPort = false;
};

struct BusDeleter {
  void operator()(sd_bus *bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
  void operator()(sd_bus_message *message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;
using Message = std::unique_ptr<sd_bus_message, MessageDeleter>;

class BusError {
 public:
  BusError() = default;
  ~BusError() { sd_bus_error_free(&error_); }
  BusError(const BusError &) = delete;
  BusError &operator=(const BusError &) = delete;
  sd_bus_error *get() { return &error_; }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL, which is a C compound literal
};

Failure BusFailure(const std::string &what, int result, const sd_bus_error *error) {
  const int code = error != nullptr && sd_bus_error_is_set(error) ? sd_bus_error_get_errno(error) : -result;
  std::string message = what + ": ";
  if (error != nullptr && sd_bus_error_is_set(error)) {
    message += std::string(error->message != nullptr ? error->message : "") + " (" + error->name + ")";
  } else {
    message += std::strerror(code);
  }
  Failure failure{V_E_WIN32, message};
  failure.platformCode = code;
  if (error != nullptr && sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.ServiceUnknown")) {
    failure.hint =
        "BlueZ is not running: start the Bluetooth service (`sudo systemctl start bluetooth`), then try "
        "again.";
  } else if (code == ENOENT || code == ECONNREFUSED) {
    failure.hint = "The system's D-Bus does not answer, so BlueZ cannot be asked: start the dbus service.";
  }
  return failure;
}

// The reader's results: >= 0 carries on, < 0 is -errno.
class Reader {
 public:
  explicit Reader(sd_bus_message *message) : message_(message) {}

  int Enter(char type, const char *contents) {
    return Check(sd_bus_message_enter_container(message_, type, contents));
  }
  int Exit() { return Check(sd_bus_message_exit_container(message_)); }
  int Skip(const char *types) { return Check(sd_bus_message_skip(message_, types)); }
  int ReadString(char type, std::string *out) {
    const char *text = nullptr;
    const int result = Check(sd_bus_message_read_basic(message_, type, &text));
    if (result > 0) {
      *out = text;
    }
    return result;
  }
  int ReadBool(bool *out) {
    int value = 0;
    const int result = Check(sd_bus_message_read_basic(message_, 'b', &value));
    *out = value != 0;
    return result;
  }
  // The variant's contents signature.
  int PeekVariant(std::string *contents) {
    char type = 0;
    const char *signature = nullptr;
    const int result = Check(sd_bus_message_peek_type(message_, &type, &signature));
    *contents = type == 'v' && signature != nullptr ? signature : "";
    return result;
  }
  int error() const { return error_; }

 private:
  int Check(int result) {
    if (result < 0 && error_ == 0) {
      error_ = result;
    }
    return result;
  }

  sd_bus_message *message_;
  int error_ = 0;
};

// One property of Device1 from its a{sv} entry; the reader stands after it.
void ReadDeviceProperty(Reader &reader, KnownDevice *device, std::string *alias) {
  std::string name;
  std::string contents;
  if (reader.ReadString('s', &name) <= 0 || reader.PeekVariant(&contents) <= 0) {
    return;
  }
  auto readString = [&](std::string *out) {
    if (contents == "s" && reader.Enter('v', "s") > 0) {
      reader.ReadString('s', out);
      reader.Exit();
    } else {
      reader.Skip("v");
    }
  };
  auto readBool = [&](bool *out) {
    if (contents == "b" && reader.Enter('v', "b") > 0) {
      reader.ReadBool(out);
      reader.Exit();
    } else {
      reader.Skip("v");
    }
  };
  if (name == "Address") {
    readString(&device->address);
  } else if (name == "Name") {
    readString(&device->name);
  } else if (name == "Alias") {
    readString(alias);
  } else if (name == "Paired") {
    readBool(&device->paired);
  } else if (name == "Connected") {
    readBool(&device->connected);
  } else if (name == "UUIDs" && contents == "as" && reader.Enter('v', "as") > 0) {
    if (reader.Enter('a', "s") > 0) {
      std::string uuid;
      while (reader.ReadString('s', &uuid) > 0) {
        device->serialPort = device->serialPort || strcasecmp(uuid.c_str(), kSerialPortUuid) == 0;
      }
      reader.Exit();
    }
    reader.Exit();
  } else {
    reader.Skip("v");
  }
}

// GetManagedObjects' a{oa{sa{sv}}}: the objects that have Device1.
int ReadDevices(sd_bus_message *reply, std::vector<KnownDevice> *devices) {
  Reader reader(reply);
  if (reader.Enter('a', "{oa{sa{sv}}}") <= 0) {
    return reader.error();
  }
  while (reader.Enter('e', "oa{sa{sv}}") > 0) {
    std::string path;
    reader.ReadString('o', &path);
    if (reader.Enter('a', "{sa{sv}}") > 0) {
      while (reader.Enter('e', "sa{sv}") > 0) {
        std::string interface;
        reader.ReadString('s', &interface);
        if (interface == kDeviceInterface && reader.Enter('a', "{sv}") > 0) {
          KnownDevice device;
          std::string alias;
          while (reader.Enter('e', "sv") > 0) {
            ReadDeviceProperty(reader, &device, &alias);
            reader.Exit();
          }
          reader.Exit();
          // The alias is the name the user gave, or else the device's own.
          if (!alias.empty()) {
            device.name = alias;
          }
          devices->push_back(device);
        } else {
          reader.Skip("a{sv}");
        }
        reader.Exit();
      }
      reader.Exit();
    }
    reader.Exit();
  }
  reader.Exit();
  return reader.error();
}

std::string Padded(const std::string &text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

}  // namespace

int RunDevices(const DevicesOptions &options) {
  auto fail = [&options](const Failure &failure) {
    Report(options.json).Fail(failure);
    return kExitFailure;
  };

  sd_bus *opened = nullptr;
  int result = sd_bus_open_system(&opened);
  Bus bus(opened);
  if (result < 0) {
    return fail(BusFailure("Cannot reach the system bus", result, nullptr));
  }
  BusError error;
  sd_bus_message *replied = nullptr;
  result = sd_bus_call_method(bus.get(), kBlueZService, "/", kObjectManager, "GetManagedObjects", error.get(),
                              &replied, "");
  Message reply(replied);
  if (result < 0) {
    return fail(BusFailure("Cannot ask BlueZ for its devices", result, error.get()));
  }
  std::vector<KnownDevice> devices;
  if ((result = ReadDevices(reply.get(), &devices)) < 0) {
    return fail(BusFailure("Cannot read BlueZ's answer", result, nullptr));
  }
  if (!options.all) {
    std::erase_if(devices, [](const KnownDevice &device) { return !device.serialPort; });
  }
  std::sort(devices.begin(), devices.end(),
            [](const KnownDevice &a, const KnownDevice &b) { return a.address < b.address; });

  Failure unwritten;
  if (options.json) {
    JsonArray list;
    for (const KnownDevice &device : devices) {
      JsonObject entry;
      entry.Add("address", device.address)
          .Add("name", device.name)
          .AddBool("paired", device.paired)
          .AddBool("connected", device.connected);
      list.Add(entry);
    }
    return WriteStdout(JsonObject().Add("devices", list).Text() + "\n", &unwritten) ? 0 : fail(unwritten);
  }
  if (devices.empty()) {
    WriteStderr(std::string("BlueZ knows no device that offers the Serial Port service") +
                (options.all ? "" : " (--all lists every device)") +
                ". Switch the scanner on, then scan for it and pair it with bluetoothctl.\n");
    return 0;
  }
  std::string table = "Address            Paired  Connected  Name\n";
  for (const KnownDevice &device : devices) {
    table += Padded(device.address, 19) + Padded(device.paired ? "yes" : "no", 8) +
             Padded(device.connected ? "yes" : "no", 11) + device.name + "\n";
  }
  return WriteStdout(table, &unwritten) ? 0 : fail(unwritten);
}

}  // namespace bluefin::tool
