// The udisks2 ejector against a stand-in udisksd that records calls and keeps a mount table.

#include "platform/linux/udisks_ejector.h"

#include <fstream>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sdbus-c++/sdbus-c++.h>

#include "tests/platform/linux/udisks_test_bus.h"

namespace {

using ::testing::ElementsAreArray;
using LeftUndone = EjectOutcome::LeftUndone;
using Options = std::map<std::string, sdbus::Variant>;

struct Block {
  std::string name;  // object path and device node /dev/NAME
  std::string drive; // empty for none
  std::vector<std::string> mountPoints;
  std::string cryptoBacking; // the container it is the unlocked content of
};
struct Drive {
  std::string name;
  bool canPowerOff = false;
  bool ejectable = false;
};

class FakeUdisks {
 public:
  // answers: "name Interface.Method" -> error name, or "slow" to answer too late.
  FakeUdisks(const std::string& bus, std::string table, std::vector<Block> blocks,
             const std::vector<Drive>& drives, std::map<std::string, std::string> answers)
      : table_(std::move(table)), blocks_(std::move(blocks)), answers_(std::move(answers)) {
    writeTable();
    connection_ = sdbus::createSessionBusConnectionWithAddress(bus);
    connection_->requestName("org.freedesktop.UDisks2");
    // sd-bus answers GetManagedObjects itself from the properties registered below.
    objects_.push_back(sdbus::createObject(*connection_, "/org/freedesktop/UDisks2"));
    objects_.back()->addObjectManager();
    objects_.back()->finishRegistration();
    for (std::size_t index = 0; index < blocks_.size(); ++index) {
      const Block block = blocks_[index];
      auto& object = add(block.name);
      property(object, "Block", "Drive",
               sdbus::ObjectPath(block.drive.empty() ? "/" : path(block.drive)));
      property(object, "Block", "CryptoBackingDevice",
               sdbus::ObjectPath(block.cryptoBacking.empty() ? "/" : path(block.cryptoBacking)));
      property(object, "Block", "Device", bytes("/dev/" + block.name));
      object.registerProperty("MountPoints").onInterface(iface("Filesystem")).withGetter([=, this] {
        std::lock_guard lock(mutex_);
        std::vector<std::vector<std::uint8_t>> points;
        for (const auto& point : blocks_[index].mountPoints) {
          points.push_back(bytes(point));
        }
        return points;
      });
      method(object, block.name, "Filesystem", "Unmount", index);
      method(object, block.name, "Encrypted", "Lock");
      object.finishRegistration();
    }
    for (const auto& drive : drives) {
      auto& object = add(drive.name);
      property(object, "Drive", "CanPowerOff", drive.canPowerOff);
      property(object, "Drive", "Ejectable", drive.ejectable);
      method(object, drive.name, "Drive", "PowerOff");
      method(object, drive.name, "Drive", "Eject");
      object.finishRegistration();
    }
    connection_->enterEventLoopAsync();
  }
  ~FakeUdisks() { connection_->leaveEventLoop(); }

  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  bool interactiveAndUnforced() const {
    std::lock_guard lock(mutex_);
    return interactiveAndUnforced_;
  }

 private:
  static std::string path(const std::string& name) {
    return "/org/freedesktop/UDisks2/block_devices/" + name;
  }
  static std::string iface(const std::string& name) { return "org.freedesktop.UDisks2." + name; }
  static std::vector<std::uint8_t> bytes(const std::string& text) {
    std::vector<std::uint8_t> result(text.begin(), text.end());
    result.push_back(0);
    return result;
  }

  template <typename Value>
  static void property(sdbus::IObject& object, const std::string& interface,
                       const std::string& name, Value value) {
    object.registerProperty(name).onInterface(iface(interface)).withGetter([value] {
      return value;
    });
  }

  sdbus::IObject& add(const std::string& name) {
    objects_.push_back(sdbus::createObject(*connection_, path(name)));
    return *objects_.back();
  }

  // Records the call; answers as the test said; an unmount takes one mount point, as udisksd's.
  void method(sdbus::IObject& object, const std::string& name, const std::string& interface,
              const std::string& method, std::optional<std::size_t> unmounts = std::nullopt) {
    const std::string call = interface + "." + method + " " + name;
    const std::string answer = answers_[name + " " + interface + "." + method];
    object.registerMethod(method)
        .onInterface(iface(interface))
        .implementedAs([=, this](const Options& options) {
          std::lock_guard lock(mutex_);
          calls_.push_back(call);
          const auto interactive = options.find("auth.no_user_interaction");
          interactiveAndUnforced_ = interactiveAndUnforced_ && !options.contains("force") &&
                                    interactive != options.end() &&
                                    !interactive->second.get<bool>();
          if (answer == "slow") {
            std::this_thread::sleep_for(std::chrono::seconds(2));
          } else if (!answer.empty()) {
            throw sdbus::Error(answer, "refused");
          } else if (unmounts && !blocks_[*unmounts].mountPoints.empty()) {
            blocks_[*unmounts].mountPoints.pop_back();
            writeTable();
          }
        });
  }

  void writeTable() {
    std::ofstream table(table_);
    for (std::size_t index = 0; index < blocks_.size(); ++index) {
      for (const auto& point : blocks_[index].mountPoints) {
        table << 100 + index << " 1 8:" << index + 1 << " / " << point << " rw - ext4 /dev/"
              << blocks_[index].name << " rw\n";
      }
    }
  }

  std::string table_;
  std::vector<Block> blocks_;
  std::map<std::string, std::string> answers_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::vector<std::unique_ptr<sdbus::IObject>> objects_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  bool interactiveAndUnforced_ = true;
};

const std::string error = "org.freedesktop.UDisks2.Error.";
const Block stick{"sdb1", "Stick", {"/media/ana/STICK"}, ""};
const Drive powerOff{"Stick", true, true};
const std::vector<Block> container{{"sdb1", "Stick", {}, ""},
                                   {"dm_0", "", {"/media/ana/STICK"}, "sdb1"}};

struct Plan {
  const char* what;
  std::vector<Block> blocks; // the last one is ejected
  std::vector<Drive> drives;
  std::map<std::string, std::string> answers;
  std::vector<std::string> calls;
  bool success;
  LeftUndone leftUndone = LeftUndone::nothing;
  EjectFailure failure = EjectFailure::none;
};

using enum EjectFailure;
const std::string unmountSdb1 = "Filesystem.Unmount sdb1";
const std::string powerOffStick = "Drive.PowerOff Stick";

// clang-format off
const std::vector<Plan> plans{
    {"drive that can power off", {stick}, {powerOff}, {}, {unmountSdb1, powerOffStick}, true},
    {"removable media", {stick}, {{"Stick", false, true}}, {}, {unmountSdb1, "Drive.Eject Stick"},
     true},
    {"fixed drive", {stick}, {{"Stick", false, false}}, {}, {unmountSdb1}, true},
    {"drive with another partition mounted", {{"sdb2", "Stick", {"/media/ana/B"}, ""}, stick},
     {powerOff}, {}, {unmountSdb1}, true},
    {"unlocked container is locked before the power-off", container, {powerOff}, {},
     {"Filesystem.Unmount dm_0", "Encrypted.Lock sdb1", powerOffStick}, true},
    {"container that will not lock", container, {powerOff},
     {{"sdb1 Encrypted.Lock", error + "Failed"}},
     {"Filesystem.Unmount dm_0", "Encrypted.Lock sdb1"}, true, LeftUndone::lock},
    {"power-off refused after the unmount", {stick}, {powerOff},
     {{"Stick Drive.PowerOff", error + "NotAuthorizedCanObtain"}},
     {unmountSdb1, powerOffStick}, true, LeftUndone::powerOff},
    {"authentication dismissed", {stick}, {powerOff},
     {{"sdb1 Filesystem.Unmount", error + "NotAuthorizedDismissed"}},
     {unmountSdb1}, false, LeftUndone::nothing, authenticationCancelled},
    {"unmount that never answers", {stick}, {powerOff}, {{"sdb1 Filesystem.Unmount", "slow"}},
     {unmountSdb1}, false, LeftUndone::nothing, timedOut},
};
// clang-format on

class UdisksEjectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    if (!(bus_ = test_bus::PrivateSystemBus::start(whyNot, false))) {
      GTEST_SKIP() << whyNot;
    }
    options_.busAddress = bus_->address();
    options_.unansweredTimeout = std::chrono::milliseconds(500);
    options_.promptOpen = [] { return false; };
    options_.mountInfo = (bus_->folder() / "mountinfo").string();
  }

  std::unique_ptr<test_bus::PrivateSystemBus> bus_;
  UdisksEjector::Options options_;
};

} // namespace

TEST_F(UdisksEjectorTest, EachKindOfDevice_GetsItsCallsInOrderAndTheResultTheMountTableShows) {
  for (const auto& plan : plans) {
    SCOPED_TRACE(plan.what);
    FakeUdisks udisks(bus_->address(), options_.mountInfo, plan.blocks, plan.drives, plan.answers);
    const EjectOutcome outcome =
        UdisksEjector(options_).eject({"", {plan.blocks.back().mountPoints.front()}});
    EXPECT_EQ(outcome.success, plan.success) << outcome.errorText;
    EXPECT_EQ(outcome.leftUndone, plan.leftUndone);
    EXPECT_EQ(outcome.failure, plan.failure);
    EXPECT_THAT(udisks.calls(), ElementsAreArray(plan.calls));
    EXPECT_TRUE(udisks.interactiveAndUnforced());
  }
}
