#include "tests/system/private_bus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace fw::bustest {

namespace fs = std::filesystem;

PrivateBus::PrivateBus(const fs::path& folder) {
  const fs::path config = folder / "bus.conf";
  std::ofstream(config)
      << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
         "<busconfig><type>session</type><listen>unix:path="
      << (folder / "bus").string()
      << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
         "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
         "</policy></busconfig>\n";
  int out[2];
  if (pipe(out) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const std::string configArg = "--config-file=" + config.string();
    execlp("dbus-daemon", "dbus-daemon", configArg.c_str(), "--nofork", "--print-address=1",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // The daemon prints its address once it listens.
  char buffer[512];
  std::string line;
  ssize_t n;
  while (line.find('\n') == std::string::npos && (n = read(out[0], buffer, sizeof buffer)) > 0)
    line.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  if (line.find('\n') != std::string::npos) address_ = line.substr(0, line.find('\n'));
}

PrivateBus::~PrivateBus() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

FakeService::FakeService(const std::string& address, const char* name) {
  if (address.empty()) return;
  sd_bus* bus = nullptr;
  if (sd_bus_new(&bus) < 0) return;
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0 || sd_bus_request_name(bus, name, 0) < 0) {
    sd_bus_flush_close_unref(bus);
    return;
  }
  bus_ = bus;
}

FakeService::~FakeService() {
  stop_ = 1;
  if (thread_.joinable()) thread_.join();
  for (sd_bus_slot* slot : slots_) sd_bus_slot_unref(slot);
  if (bus_) sd_bus_flush_close_unref(bus_);
}

void FakeService::AddObject(const char* path, const char* interface, const sd_bus_vtable* vtable) {
  if (!bus_) return;
  sd_bus_slot* slot = nullptr;
  if (sd_bus_add_object_vtable(bus_, &slot, path, interface, vtable, this) >= 0)
    slots_.push_back(slot);
}

void FakeService::Serve() {
  if (!bus_) return;
  thread_ = std::thread([this] {
    while (stop_.load() == 0) {
      const int r = sd_bus_process(bus_, nullptr);
      if (r > 0) continue;
      if (r < 0) break;
      sd_bus_wait(bus_, 50'000);
    }
  });
}

// --- udisks2 ---

namespace {
constexpr const char* kBlockPath = "/org/freedesktop/UDisks2/block_devices/sdz";
constexpr const char* kDrivePath = "/org/freedesktop/UDisks2/drives/Fake_Stick_0001";

const sd_bus_vtable kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ResolveDevice", "a{sv}a{sv}", "ao", FakeUDisks::ResolveDevice,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kBlockVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Drive", "o", FakeUDisks::GetDrive, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};
const sd_bus_vtable kDriveVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("CanPowerOff", "b", FakeUDisks::GetCanPowerOff, 0,
                    SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_METHOD("PowerOff", "a{sv}", "", FakeUDisks::RemoveDrive, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Eject", "a{sv}", "", FakeUDisks::RemoveDrive, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};
}  // namespace

FakeUDisks::FakeUDisks(const std::string& address, std::string devicePath, bool canPowerOff,
                       int refusals)
    : FakeService(address, "org.freedesktop.UDisks2"),
      devicePath_(std::move(devicePath)),
      canPowerOff_(canPowerOff),
      refusals_(refusals) {
  AddObject("/org/freedesktop/UDisks2/Manager", "org.freedesktop.UDisks2.Manager", kManagerVtable);
  AddObject(kBlockPath, "org.freedesktop.UDisks2.Block", kBlockVtable);
  AddObject(kDrivePath, "org.freedesktop.UDisks2.Drive", kDriveVtable);
  Serve();
}

std::vector<std::string> FakeUDisks::Calls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

int FakeUDisks::ResolveDevice(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* fake = static_cast<FakeUDisks*>(self);
  std::string path;
  if (sd_bus_message_enter_container(m, 'a', "{sv}") > 0) {
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
      const char* key = nullptr;
      sd_bus_message_read(m, "s", &key);
      if (key && std::string(key) == "path") {
        const char* value = nullptr;
        sd_bus_message_read(m, "v", "s", &value);
        path = value ? value : "";
      } else {
        sd_bus_message_skip(m, "v");
      }
      sd_bus_message_exit_container(m);
    }
    sd_bus_message_exit_container(m);
  }
  {
    std::lock_guard<std::mutex> lock(fake->mutex_);
    fake->calls_.push_back("ResolveDevice " + path);
  }
  sd_bus_message* reply = nullptr;
  int r = sd_bus_message_new_method_return(m, &reply);
  if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "o");
  if (r >= 0 && path == fake->devicePath_) r = sd_bus_message_append(reply, "o", kBlockPath);
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r;
}

int FakeUDisks::RemoveDrive(sd_bus_message* m, void* self, sd_bus_error* error) {
  auto* fake = static_cast<FakeUDisks*>(self);
  const std::string member = sd_bus_message_get_member(m);
  {
    std::lock_guard<std::mutex> lock(fake->mutex_);
    fake->calls_.push_back(member);
    if (fake->refusals_ > 0) {
      --fake->refusals_;
      return sd_bus_error_set(error, "org.freedesktop.UDisks2.Error.Failed",
                              "Error powering off drive: device is busy");
    }
  }
  return sd_bus_reply_method_return(m, "");
}

int FakeUDisks::GetDrive(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                         void*, sd_bus_error*) {
  return sd_bus_message_append(reply, "o", kDrivePath);
}

int FakeUDisks::GetCanPowerOff(sd_bus*, const char*, const char*, const char*,
                               sd_bus_message* reply, void* self, sd_bus_error*) {
  return sd_bus_message_append(reply, "b", static_cast<FakeUDisks*>(self)->canPowerOff_ ? 1 : 0);
}

// --- session manager ---

namespace {
const sd_bus_vtable kSessionVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "susu", "u", FakeSessionManager::Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Uninhibit", "u", "", FakeSessionManager::Uninhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};
}  // namespace

FakeSessionManager::FakeSessionManager(const std::string& address)
    : FakeService(address, "org.gnome.SessionManager") {
  AddObject("/org/gnome/SessionManager", "org.gnome.SessionManager", kSessionVtable);
  Serve();
}

std::vector<FakeSessionManager::Inhibitor> FakeSessionManager::Held() {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

std::vector<uint32_t> FakeSessionManager::Released() {
  std::lock_guard<std::mutex> lock(mutex_);
  return released_;
}

int FakeSessionManager::Inhibit(sd_bus_message* m, void* self, sd_bus_error*) {
  auto* fake = static_cast<FakeSessionManager*>(self);
  const char* app = nullptr;
  const char* reason = nullptr;
  uint32_t toplevel = 0, flags = 0;
  const int r = sd_bus_message_read(m, "susu", &app, &toplevel, &reason, &flags);
  if (r < 0) return r;
  uint32_t cookie;
  {
    std::lock_guard<std::mutex> lock(fake->mutex_);
    cookie = fake->nextCookie_++;
    fake->held_.push_back({app, toplevel, reason, flags, cookie});
  }
  return sd_bus_reply_method_return(m, "u", cookie);
}

int FakeSessionManager::Uninhibit(sd_bus_message* m, void* self, sd_bus_error* error) {
  auto* fake = static_cast<FakeSessionManager*>(self);
  uint32_t cookie = 0;
  const int r = sd_bus_message_read(m, "u", &cookie);
  if (r < 0) return r;
  std::lock_guard<std::mutex> lock(fake->mutex_);
  auto it = std::find_if(fake->held_.begin(), fake->held_.end(),
                         [cookie](const Inhibitor& i) { return i.cookie == cookie; });
  if (it == fake->held_.end())
    return sd_bus_error_set(error, "org.gnome.SessionManager.GeneralError", "no such cookie");
  fake->held_.erase(it);
  fake->released_.push_back(cookie);
  return sd_bus_reply_method_return(m, "");
}

}  // namespace fw::bustest
