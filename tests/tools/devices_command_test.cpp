// bluefin devices against python-dbusmock's BlueZ template on a D-Bus of the
// test's own, never the machine's: the command takes the bus from
// DBUS_SYSTEM_BUS_ADDRESS, which the runs here point at the private bus.
#include "command_support.h"

namespace bluefin::tool::test {
namespace {

// A dbus-daemon on a socket in a scratch folder, allowing everything. With
// BlueZ, the first call to org.bluez starts the mock, and the daemon holds
// the call until the mock has the name.
class PrivateBus {
 public:
  explicit PrivateBus(bool bluez) : address_("unix:path=" + (dir_ / "socket")) {
    std::ofstream(dir_ / "org.bluez.service")
        << "[D-BUS Service]\nName=org.bluez\nExec=/usr/bin/python3 -m dbusmock --template bluez5\n";
    std::ofstream(dir_ / "bus.conf") << "<busconfig><type>session</type><listen>" << address_ << "</listen>"
                                     << (bluez ? "<servicedir>" + dir_.path().string() + "</servicedir>" : "")
                                     << "<policy context=\"default\"><allow send_destination=\"*\"/><allow "
                                        "receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
    daemon_.emplace(
        std::vector<std::string>{"--config-file=" + (dir_ / "bus.conf"), "--nofork", "--print-address"},
        Options(BLUEFIN_DBUS_DAEMON));
    EXPECT_TRUE(daemon_->WaitFor(&ChildResult::out, "\n")) << "dbus-daemon did not start";
  }

  // The mock, like the command, finds the bus through the daemon's environment.
  ChildOptions Options(const std::string &program = BLUEFIN_TOOL_PATH) const {
    return {.program = program, .wrapper = {"/usr/bin/env", "DBUS_SYSTEM_BUS_ADDRESS=" + address_}};
  }

  // Adds to the mock "hci0" as an adapter, or a device on it as
  // "address,alias,paired (yes/no),connected (yes/no),UUID...".
  void Add(const std::vector<std::string> &items) const {
    const ChildResult run = RunBluefin(Concat({"-c", R"(
import dbus, sys
bus = dbus.SystemBus()
mock = dbus.Interface(bus.get_object('org.bluez', '/'), 'org.bluez.Mock')
for item in sys.argv[1:]:
    if item == 'hci0':
        mock.AddAdapter('hci0', 'test host')
        continue
    address, alias, paired, connected, *uuids = item.split(',')
    device = bus.get_object('org.bluez', mock.AddDevice('hci0', address, alias))
    device.UpdateProperties('org.bluez.Device1', {'Paired': paired == 'yes', 'Connected': connected == 'yes',
                            'UUIDs': dbus.Array(uuids, signature='s')}, dbus_interface='org.freedesktop.DBus.Mock')
)"},
                                              items),
                                       Options("/usr/bin/python3"));
    EXPECT_EQ(run.exitStatus, 0) << run.err;
  }

 private:
  ScratchDir dir_;
  std::string address_;
  std::optional<Child> daemon_;
};

TEST(DevicesCommand, ListsTheDevicesWithTheSerialPortService) {
  PrivateBus bus(true);
  bus.Add({"hci0"});
  const ChildResult none = RunBluefin({"devices", "--json"}, bus.Options());
  EXPECT_EQ(none.exitStatus, 0);
  EXPECT_EQ(none.out, "{\"devices\": []}\n");
  const ChildResult noneText = RunBluefin({"devices"}, bus.Options());
  EXPECT_EQ(noneText.exitStatus, 0);
  EXPECT_EQ(noneText.out, "");
  EXPECT_THAT(noneText.err, HasSubstr("pair it with bluetoothctl"));

  const std::string serialPort = "00001101-0000-1000-8000-00805f9b34fb";
  const std::string audioSink = "0000110b-0000-1000-8000-00805f9b34fb";
  bus.Add({"0B:F1:00:00:00:22,Desk scanner,yes,no," + serialPort,
           "AA:BB:CC:DD:EE:FF,Headphones,yes,yes," + audioSink,
           "0B:F1:00:00:00:11,BF-2000,no,yes," + audioSink + ",00001101-0000-1000-8000-00805F9B34FB"});
  const ChildResult json = RunBluefin({"devices", "--json"}, bus.Options());
  ExpectDocumented("devices", json);
  EXPECT_EQ(json.out,
            "{\"devices\": [{\"address\": \"0B:F1:00:00:00:11\", \"name\": \"BF-2000\", \"paired\": false, "
            "\"connected\": true}, {\"address\": \"0B:F1:00:00:00:22\", \"name\": \"Desk scanner\", "
            "\"paired\": true, \"connected\": false}]}\n");
  const ChildResult text = RunBluefin({"devices"}, bus.Options());
  EXPECT_EQ(text.exitStatus, 0) << text.err;
  EXPECT_EQ(text.out,
            "Address            Paired  Connected  Name\n"
            "0B:F1:00:00:00:11  no      yes        BF-2000\n"
            "0B:F1:00:00:00:22  yes     no         Desk scanner\n");
  const ChildResult all = RunBluefin({"devices", "--all"}, bus.Options());
  EXPECT_THAT(all.out, HasSubstr("AA:BB:CC:DD:EE:FF  yes     yes        Headphones\n"));
}

TEST(DevicesCommand, WithoutBlueZOrABusSaysWhatToStart) {
  const PrivateBus bus(false);
  const struct {
    ChildOptions options;
    std::string message;  // what the message must contain
    std::string hint;     // what the hint starts with
  } cases[] = {
      // clang-format off
      {bus.Options(), "(org.freedesktop.DBus.Error.ServiceUnknown)", "BlueZ is not running"},
      {{.wrapper = {"/usr/bin/env", "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/bus"}}, "No such file or directory", "The system's D-Bus does not answer"},
      // clang-format on
  };
  for (const auto &row : cases) {
    const ChildResult run = RunBluefin({"devices", "--json"}, row.options);
    ExpectDocumented("a failure with a hint", run);
    EXPECT_THAT(run.out, HasSubstr(row.message + "\", \"hint\": \"" + row.hint));
  }
}

}  // namespace
}  // namespace bluefin::tool::test
