// The registry store: the operations of a Windows registry kept in one text file. Keys keep their
// Windows texts ("HKEY_LOCAL_MACHINE\Software\..."), values are passed as text whatever their type.
// Only the program itself reads this store: values such as the AutoRun policy have no effect on
// Linux beyond being kept here, so the program's save-and-restore of them stays observable.
#pragma once

#include <string>

namespace fw {

inline constexpr int REG_SZ = 1;
inline constexpr int REG_EXPAND_SZ = 2;
inline constexpr int REG_BINARY = 3;
inline constexpr int REG_DWORD = 4;

// The store's file; empty means $XDG_CONFIG_HOME/flashwright/registry.txt (or ~/.config/...).
void SetRegistryStorePath(const std::string& path);
std::string RegistryStorePath();

namespace Registry {
// `computer` is "." for this machine; any other name fails as an unreachable machine would.
int KeyExists(const std::string& key, const std::string& computer = ".");
int CreateKey(const std::string& key, const std::string& computer = ".");
int DeleteKey(const std::string& key, const std::string& computer = ".");
int ValueExists(const std::string& key, const std::string& name, const std::string& computer = ".");
std::string ReadValue(const std::string& key, const std::string& name,
                      const std::string& computer = ".");
int WriteValue(const std::string& key, const std::string& name, const std::string& value, int type,
               const std::string& computer = ".");
int CreateKeyAndWriteValue(const std::string& key, const std::string& name,
                           const std::string& value, int type, const std::string& computer = ".");
// Always 0 on Linux: the program runs natively.
int IsWow64();
}  // namespace Registry

}  // namespace fw
