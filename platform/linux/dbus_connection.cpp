#include "platform/linux/dbus_connection.h"

#include <cstring>

namespace fw {

bool BusError::NoService() const {
  return sd_bus_error_has_name(&error_, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
         sd_bus_error_has_name(&error_, SD_BUS_ERROR_NAME_HAS_NO_OWNER);
}

std::string BusError::Text(int rc) const {
  if (sd_bus_error_is_set(&error_)) {
    std::string text = error_.name;
    if (error_.message && *error_.message) text += std::string(": ") + error_.message;
    return text;
  }
  return std::strerror(rc < 0 ? -rc : rc);
}

BusConnection ConnectBus(BusKind kind, const std::string& address, std::string* reason) {
  sd_bus* bus = nullptr;
  int rc;
  if (!address.empty()) {
    rc = sd_bus_new(&bus);
    if (rc >= 0) rc = sd_bus_set_address(bus, address.c_str());
    if (rc >= 0) rc = sd_bus_set_bus_client(bus, 1);
    if (rc >= 0) rc = sd_bus_start(bus);
  } else {
    rc = kind == BusKind::kSystem ? sd_bus_open_system(&bus) : sd_bus_open_user(&bus);
  }
  if (rc < 0) {
    if (reason)
      *reason = std::string(kind == BusKind::kSystem ? "no system bus: " : "no session bus: ") +
                std::strerror(-rc);
    sd_bus_unref(bus);
    return nullptr;
  }
  return BusConnection(bus);
}

}  // namespace fw
