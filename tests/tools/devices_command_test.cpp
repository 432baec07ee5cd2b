// bluefin devices against python-dbusmock's BlueZ template on a D-Bus of the
// test's own, never the machine's: the command takes the bus from
// DBUS_SYSTEM_BUS_ADDRESS, which the runs here point at the private bus.
#include <systemd/sd-bus.h>

#include <gtest/gtest.h>
#include <chrono>
#include <fstream>
#include <memory>

#include "child_process.h"
#include "documented_outcomes.h"
#include "test_support.h"
#include "tools/json.h"

namespace bluefin::tool::test {
namespace {

constexpr char kSerialPort[] = "00001101-0000-1000-8000-00805f9b34fb";
constexpr char kAudioSink[] = "0000110b-0000-1000-8000-00805f9b34fb";
constexpr auto kHangGuard = std::chrono::seconds(60);

// A dbus-daemon on a socket in a scratch folder, allowing everything.
class PrivateBus {
 public:
  PrivateBus() {
    const std::string config = dir_ / "bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:dir="
        << dir_.path().string()
        << "</listen>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
    daemon_.emplace(std::vector<std::string>{"--config-file=" + config, "--nofork", "--print-address"},
                    ChildOptions{.program = BLUEFIN_DBUS_DAEMON});
    if (daemon_->WaitFor(Child::Stream::kOut, "\n")) {
      address_ = daemon_->Seen().out.substr(0, daemon_->Seen().out.find('\n'));
    }
  }

  const std::string &Address() const { return address_; }
  ChildOptions Options() const { return ChildOptions{.env = {{"DBUS_SYSTEM_BUS_ADDRESS", address_}}}; }

 private:
  ScratchDir dir_;
  std::optional<Child> daemon_;
  std::string address_;
};

struct BusDeleter {
  void operator()(sd_bus *bus) const { sd_bus_flush_close_unref(bus); }
};

// The BlueZ mock on the private bus, and calls of its control methods.
class MockBlueZ {
 public:
  explicit MockBlueZ(const PrivateBus &bus) {
    sd_bus *opened = nullptr;
    EXPECT_GE(sd_bus_new(&opened), 0);
    bus_.reset(opened);
    sd_bus_set_address(bus_.get(), bus.Address().c_str());
    sd_bus_set_bus_client(bus_.get(), 1);
    EXPECT_GE(sd_bus_start(bus_.get()), 0) << bus.Address();
    // Watch for the name before the mock can take it.
    EXPECT_GE(sd_bus_match_signal(bus_.get(), nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "NameOwnerChanged", OnNameOwnerChanged, this),
              0);
    ChildOptions options = bus.Options();
    options.program = "/usr/bin/python3";
    mock_.emplace(std::vector<std::string>{"-m", "dbusmock", "--template", "bluez5"}, options);
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!named_ && std::chrono::steady_clock::now() < deadline) {
      if (sd_bus_process(bus_.get(), nullptr) == 0) {
        sd_bus_wait(bus_.get(), 1000000);
      }
    }
    EXPECT_TRUE(named_) << "the BlueZ mock did not start: " << mock_->Seen().err;
  }

  std::string AddAdapter(const char *name) { return CallForPath("AddAdapter", "ss", name, "test host"); }
  // A device with these properties of Device1 besides the template's.
  void AddDevice(const char *address, const char *alias, bool paired, bool connected,
                 std::vector<const char *> uuids) {
    const std::string path = CallForPath("AddDevice", "sss", "hci0", address, alias);
    sd_bus_message *call = nullptr;
    ASSERT_GE(sd_bus_message_new_method_call(bus_.get(), &call, "org.bluez", path.c_str(),
                                             "org.freedesktop.DBus.Mock", "UpdateProperties"),
              0);
    sd_bus_message_append(call, "s", "org.bluez.Device1");
    sd_bus_message_open_container(call, 'a', "{sv}");
    sd_bus_message_append(call, "{sv}", "Paired", "b", paired);
    sd_bus_message_append(call, "{sv}", "Connected", "b", connected);
    sd_bus_message_open_container(call, 'e', "sv");
    sd_bus_message_append(call, "s", "UUIDs");
    sd_bus_message_open_container(call, 'v', "as");
    sd_bus_message_open_container(call, 'a', "s");
    for (const char *uuid : uuids) {
      sd_bus_message_append(call, "s", uuid);
    }
    sd_bus_message_close_container(call);
    sd_bus_message_close_container(call);
    sd_bus_message_close_container(call);
    sd_bus_message_close_container(call);
    sd_bus_error error{};
    EXPECT_GE(sd_bus_call(bus_.get(), call, 0, &error, nullptr), 0) << (error.message ? error.message : "");
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);
  }

 private:
  static int OnNameOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *) {
    const char *name = nullptr;
    const char *before = nullptr;
    const char *after = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &before, &after) >= 0 &&
        std::string(name) == "org.bluez" && after[0] != '\0') {
      static_cast<MockBlueZ *>(self)->named_ = true;
    }
    return 0;
  }

  template <typename... Args>
  std::string CallForPath(const char *method, const char *types, Args... args) {
    sd_bus_error error{};
    sd_bus_message *reply = nullptr;
    std::string path;
    const int result = sd_bus_call_method(bus_.get(), "org.bluez", "/", "org.bluez.Mock", method, &error,
                                          &reply, types, args...);
    EXPECT_GE(result, 0) << method << ": " << (error.message ? error.message : "");
    const char *text = nullptr;
    if (result >= 0 && sd_bus_message_read(reply, "s", &text) >= 0) {
      path = text;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return path;
  }

  std::unique_ptr<sd_bus, BusDeleter> bus_;
  std::optional<Child> mock_;
  bool named_ = false;
};

class DevicesCommand : public ::testing::Test {
 protected:
  PrivateBus bus_;
};

TEST_F(DevicesCommand, ListsTheDevicesWithTheSerialPortService) {
  ASSERT_FALSE(bus_.Address().empty());
  MockBlueZ bluez(bus_);
  bluez.AddAdapter("hci0");
  bluez.AddDevice("0B:F1:00:00:00:22", "Desk scanner", true, false, {kSerialPort});
  bluez.AddDevice("AA:BB:CC:DD:EE:FF", "Headphones", true, true, {kAudioSink});
  bluez.AddDevice("0B:F1:00:00:00:11", "BF-2000", false, true,
                  {kAudioSink, "00001101-0000-1000-8000-00805F9B34FB"});

  const ChildResult json = RunBluefin({"devices", "--json"}, bus_.Options());
  ExpectDocumented("devices", json);
  JsonArray devices;
  devices.Add(JsonObject()
                  .Add("address", "0B:F1:00:00:00:11")
                  .Add("name", "BF-2000")
                  .AddBool("paired", false)
                  .AddBool("connected", true));
  devices.Add(JsonObject()
                  .Add("address", "0B:F1:00:00:00:22")
                  .Add("name", "Desk scanner")
                  .AddBool("paired", true)
                  .AddBool("connected", false));
  EXPECT_EQ(json.out, JsonObject().Add("devices", devices).Text() + "\n");

  const ChildResult text = RunBluefin({"devices"}, bus_.Options());
  EXPECT_EQ(text.exitStatus, 0) << text.err;
  EXPECT_EQ(text.out,
            "Address            Paired  Connected  Name\n"
            "0B:F1:00:00:00:11  no      yes        BF-2000\n"
            "0B:F1:00:00:00:22  yes     no         Desk scanner\n");

  const ChildResult all = RunBluefin({"devices", "--all"}, bus_.Options());
  EXPECT_NE(all.out.find("AA:BB:CC:DD:EE:FF  yes     yes        Headphones\n"), std::string::npos) << all.out;
}

TEST_F(DevicesCommand, NoneKnownIsAnEmptyListAndAHint) {
  ASSERT_FALSE(bus_.Address().empty());
  MockBlueZ bluez(bus_);
  bluez.AddAdapter("hci0");
  const ChildResult json = RunBluefin({"devices", "--json"}, bus_.Options());
  EXPECT_EQ(json.exitStatus, 0);
  EXPECT_EQ(json.out, "{\"devices\": []}\n");
  const ChildResult text = RunBluefin({"devices"}, bus_.Options());
  EXPECT_EQ(text.exitStatus, 0);
  EXPECT_EQ(text.out, "");
  EXPECT_NE(text.err.find("pair it with bluetoothctl"), std::string::npos) << text.err;
}

TEST_F(DevicesCommand, WithoutBlueZSaysToStartIt) {
  ASSERT_FALSE(bus_.Address().empty());
  const ChildResult run = RunBluefin({"devices", "--json"}, bus_.Options());
  ExpectDocumented("a failure with a hint", run);
  EXPECT_NE(run.out.find("org.freedesktop.DBus.Error.ServiceUnknown"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"hint\": \"BlueZ is not running"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace bluefin::tool::test
