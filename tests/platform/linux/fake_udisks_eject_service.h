#pragma once

// A small stand-in for udisksd on a private bus: the blocks and drives a test describes, and
// a record of every call the ejector makes. For what loop devices cannot show: drives to
// power off, removable media, two partitions of one drive. Header only.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

class FakeUdisksEjectService {
 public:
  struct Block {
    Block(std::string path, std::string drive = "/", std::vector<std::string> mountPoints = {})
        : path(std::move(path)), drive(std::move(drive)), mountPoints(std::move(mountPoints)) {}

    std::string path;  // "/org/freedesktop/UDisks2/block_devices/sdb1"
    std::string drive; // Block.Drive; "/" for none
    std::vector<std::string> mountPoints;
    bool isLoop = false;
    std::string partitionTable; // Partition.Table; empty: not a partition
  };
  struct Drive {
    std::string path;
    bool canPowerOff = false;
    bool ejectable = false;
    bool mediaRemovable = false;
  };
  struct Call {
    std::string path;
    std::string method; // "Filesystem.Unmount", "Loop.Delete", "Drive.PowerOff", "Drive.Eject"
    std::map<std::string, std::string> options; // Booleans as "true"/"false", others by type
  };
  struct Failure {
    std::string name;
    std::string message;
  };

  FakeUdisksEjectService(const std::string& busAddress, std::vector<Block> blocks,
                         std::vector<Drive> drives)
      : blocks_(std::move(blocks)), drives_(std::move(drives)) {
    connection_ = sdbus::createSessionBusConnectionWithAddress(busAddress);
    connection_->requestName("org.freedesktop.UDisks2");
    // sd-bus answers GetManagedObjects itself from the properties registered below.
    manager_ = sdbus::createObject(*connection_, "/org/freedesktop/UDisks2");
    manager_->addObjectManager();
    manager_->finishRegistration();
    for (const auto& block : blocks_) {
      const std::string path = block.path;
      auto object = sdbus::createObject(*connection_, path);
      object->registerProperty("Drive").onInterface(blockInterface).withGetter([this, path] {
        return sdbus::ObjectPath(find(path).drive);
      });
      object->registerProperty("HintSystem").onInterface(blockInterface).withGetter([] {
        return false;
      });
      object->registerProperty("MountPoints")
          .onInterface(filesystemInterface)
          .withGetter([this, path] {
            std::vector<std::vector<std::uint8_t>> points;
            for (const auto& point : find(path).mountPoints) {
              points.push_back(bytes(point));
            }
            return points;
          });
      addMethod(*object, path, filesystemInterface, "Unmount");
      if (block.isLoop) {
        object->registerProperty("BackingFile").onInterface(loopInterface).withGetter([] {
          return bytes("/srv/images/disk.img");
        });
        addMethod(*object, path, loopInterface, "Delete");
      }
      if (!block.partitionTable.empty()) {
        const sdbus::ObjectPath table(block.partitionTable);
        object->registerProperty("Table").onInterface(partitionInterface).withGetter([table] {
          return table;
        });
      }
      object->finishRegistration();
      objects_.push_back(std::move(object));
    }
    for (const auto& drive : drives_) {
      auto object = sdbus::createObject(*connection_, drive.path);
      object->registerProperty("CanPowerOff").onInterface(driveInterface).withGetter([drive] {
        return drive.canPowerOff;
      });
      object->registerProperty("Ejectable").onInterface(driveInterface).withGetter([drive] {
        return drive.ejectable;
      });
      object->registerProperty("MediaRemovable").onInterface(driveInterface).withGetter([drive] {
        return drive.mediaRemovable;
      });
      addMethod(*object, drive.path, driveInterface, "PowerOff");
      addMethod(*object, drive.path, driveInterface, "Eject");
      object->finishRegistration();
      objects_.push_back(std::move(object));
    }
    connection_->enterEventLoopAsync();
  }

  ~FakeUdisksEjectService() { connection_->leaveEventLoop(); }

  // The next call of that method on that object answers with this error.
  void failWith(const std::string& path, const std::string& method, Failure failure) {
    std::lock_guard lock(mutex_);
    failures_[{path, method}] = std::move(failure);
  }
  // Every call of that method on that object answers only after this long.
  void delay(const std::string& path, const std::string& method,
             std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    delays_[{path, method}] = duration;
  }

  std::vector<Call> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // "Filesystem.Unmount /org/…/sdb1", one line per call, in order.
  std::vector<std::string> callNames() const {
    std::vector<std::string> names;
    for (const auto& call : calls()) {
      names.push_back(call.method + " " + call.path);
    }
    return names;
  }

 private:
  using Options = std::map<std::string, sdbus::Variant>;

  static std::vector<std::uint8_t> bytes(const std::string& text) {
    std::vector<std::uint8_t> result(text.begin(), text.end());
    result.push_back(0);
    return result;
  }

  void addMethod(sdbus::IObject& object, const std::string& path, const std::string& interface,
                 const std::string& method) {
    const std::string shortName = interface.substr(interface.rfind('.') + 1) + "." + method;
    object.registerMethod(method).onInterface(interface).implementedAs(
        [this, path, shortName](const Options& options) { answer(path, shortName, options); });
  }

  void answer(const std::string& path, const std::string& method, const Options& options) {
    std::optional<Failure> failure;
    std::chrono::milliseconds wait{0};
    {
      std::lock_guard lock(mutex_);
      Call call{path, method, {}};
      for (const auto& [key, value] : options) {
        call.options[key] = value.containsValueOfType<bool>()
                                ? (value.get<bool>() ? "true" : "false")
                                : value.peekValueType();
      }
      calls_.push_back(std::move(call));
      if (const auto found = failures_.find({path, method}); found != failures_.end()) {
        failure = found->second;
        failures_.erase(found);
      }
      if (const auto found = delays_.find({path, method}); found != delays_.end()) {
        wait = found->second;
      }
    }
    std::this_thread::sleep_for(wait);
    if (failure) {
      throw sdbus::Error(failure->name, failure->message);
    }
    if (method == "Filesystem.Unmount") {
      std::lock_guard lock(mutex_);
      for (auto& block : blocks_) {
        if (block.path == path) {
          block.mountPoints.clear();
        }
      }
    }
  }

  Block find(const std::string& path) const {
    std::lock_guard lock(mutex_);
    for (const auto& block : blocks_) {
      if (block.path == path) {
        return block;
      }
    }
    return Block(path);
  }

  static constexpr const char* blockInterface = "org.freedesktop.UDisks2.Block";
  static constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
  static constexpr const char* loopInterface = "org.freedesktop.UDisks2.Loop";
  static constexpr const char* partitionInterface = "org.freedesktop.UDisks2.Partition";
  static constexpr const char* driveInterface = "org.freedesktop.UDisks2.Drive";

  mutable std::mutex mutex_;
  std::vector<Block> blocks_;
  std::vector<Drive> drives_;
  std::vector<Call> calls_;
  std::map<std::pair<std::string, std::string>, Failure> failures_;
  std::map<std::pair<std::string, std::string>, std::chrono::milliseconds> delays_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IObject> manager_;
  std::vector<std::unique_ptr<sdbus::IObject>> objects_;
};
