#include "disk/inventory.h"

#include <map>
#include <mutex>
#include <vector>

#include "app/globals.h"
#include "app/log.h"
#include "app/settings.h"
#include "app/text.h"
#include "app/ui.h"
#include "disk/disk_table.h"
#include "disk/drive_letters.h"
#include "disk/mbr_layout.h"
#include "disk/volume_probe.h"
#include "platform/sysinfo.h"

namespace fw {

namespace {

struct InventoryState {
  std::recursive_mutex mutex;
  std::map<std::string, int32_t> numberOfKey;  // stable disk numbers for the process's life
  std::map<int32_t, NumberedDisk> disks;       // last inventory
  std::vector<DriveListRow> rows;
  int selected = -1;
  int32_t numberOfDisks = 0;
  int32_t numberOfLogicalDrives = 0;
  std::string accessProblem;  // the first offered disk that could not be opened, and why
};

InventoryState& State() {
  static InventoryState s;
  return s;
}

std::string Hex2(unsigned v) {
  static const char* d = "0123456789ABCDEF";
  return std::string{d[(v >> 4) & 15], d[v & 15]};
}

// Fills label and file system of `slot` from the volume's own sectors.
void ProbeSlot(BlockDevice& disk, PartitionEntry& slot) {
  WindowDevice window(disk, static_cast<uint64_t>(slot.StartingOffset),
                      static_cast<uint64_t>(slot.PartitionLength));
  const VolumeFacts facts = ProbeVolume(window);
  slot.FileSystem = facts.FileSystem;
  slot.VolumeName = facts.VolumeName;
}

// The facts IsDiskOffered looks at, from the backend's description alone.
DiskRecord OfferedFacts(const DiskInfo& info) {
  DiskRecord d;
  d.BusType = BusTypeNameOf(info.busCode);
  d.VendorId = info.VendorId;
  d.DriveType = info.DriveType;
  return d;
}

void AppendLetter(DiskRecord& d, const std::string& letter) {
  if (!d.DriveLetters.empty()) d.DriveLetters += " ";
  d.DriveLetters += letter;
}

}  // namespace

bool FindNumberedDisk(int32_t n, NumberedDisk* out) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  auto it = s.disks.find(n);
  if (it == s.disks.end()) return false;
  if (out) *out = it->second;
  return true;
}

int32_t NumberForKey(const std::string& key) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  auto it = s.numberOfKey.find(key);
  if (it != s.numberOfKey.end()) return it->second;
  for (int32_t n = 0; n < 50; ++n) {
    bool used = false;
    for (const auto& [k, v] : s.numberOfKey) used = used || v == n;
    if (!used) {
      s.numberOfKey[key] = n;
      return n;
    }
  }
  return -1;
}

void BeginDiskTable() {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.disks.clear();
}

void AddNumberedDisk(int32_t n, DiskBackend* backend, const DiskInfo& info) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.disks[n] = NumberedDisk{backend, info};
}

std::string DriveTypeNameOf(uint32_t t) {
  switch (t) {
    case 1:
      return "Root directory does not exist";
    case 2:
      return "Removable";
    case 3:
      return "Fixed";
    case 4:
      return "Network";
    case 5:
      return "CDROM";
    case 6:
      return "RAMdisk";
    default:
      return "Indetermined";
  }
}

std::string BusTypeNameOf(int code) {
  static const char* names[] = {
      "Unknown", "SCSI",  "ATAPI", "ATA",  "1394", "SSA", "Fibre",   "USB",
      "RAID",    "iSCSI", "SAS",   "SATA", "SD",   "MMC", "Virtual", "FileBackedVirtual"};
  if (code >= 0 && code <= 15) return names[code];
  if (code == 16 || code == 17 || code == 127) return "";
  return "Unknown";
}

int32_t GetAllDrives() {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  std::vector<DiskRecord>& records = DiskRecords();
  records.clear();
  s.numberOfDisks = 0;
  s.numberOfLogicalDrives = 0;
  s.accessProblem.clear();

  // Gather the backends' disks under their stable numbers, in number order.
  std::map<int32_t, NumberedDisk> found;
  for (DiskBackend* backend : DiskBackends()) {
    // Whether a disk was refused is decided below, for the disks that would be offered only.
    bool denied = false;
    for (const DiskInfo& info : backend->Enumerate(&denied)) {
      const int32_t n = NumberForKey(info.key);
      if (n < 0) {
        FW_LOG("GetAllDrives: no free disk number for " + info.name);
        continue;
      }
      found[n] = NumberedDisk{backend, info};
    }
  }
  s.disks = found;

  struct Volume {
    size_t record;
    int slot;
    std::string key;
  };
  std::vector<Volume> volumes;
  for (auto& [n, nd] : found) {
    const DiskInfo& info = nd.info;
    int err = 0;
    std::unique_ptr<BlockDevice> dev = nd.backend->Open(info, false, &err);
    if (!dev) {
      FW_LOG("GetAllDrives: cannot open " + info.name + " (" + std::to_string(err) + ")");
      if (s.accessProblem.empty() && IsDiskOffered(OfferedFacts(info)))
        s.accessProblem = AccessProblemText(info.devicePath, err, RunningAsAdministrator());
      continue;
    }
    const int64_t length = static_cast<int64_t>(dev->SizeBytes());
    if (length == 0 || info.DiskLength == 0) continue;
    DiskRecord d;
    d.ListItem = -1;
    d.DiskNumber = n;
    d.DiskLength = length;
    d.DriveType = info.DriveType;
    d.DriveTypeName = DriveTypeNameOf(info.DriveType);
    d.BusType = BusTypeNameOf(info.busCode);
    d.VendorId = info.VendorId;
    d.ProductId = info.ProductId;
    if (info.key.rfind("image:", 0) == 0) d.ImageFile = info.devicePath;
    d.BytesPerSector = dev->SectorSize();
    d.TracksPerCylinder = 255;
    d.SectorsPerTrack = 63;
    d.Cylinders = length / (255 * 63 * static_cast<int64_t>(d.BytesPerSector));
    d.MediaType = info.DriveType == 2 ? 11 : 12;
    d.DiskSize = length;
    d.GeometrySectors = d.Cylinders * d.TracksPerCylinder * d.SectorsPerTrack;

    std::vector<uint8_t> sector0(d.BytesPerSector);
    const bool read =
        dev->ReadAt(0, sector0.data(), sector0.size()) == static_cast<int64_t>(sector0.size());
    const MbrLayout layout =
        ParseMbrLayout(read ? sector0.data() : nullptr, sector0.size(), length, d.BytesPerSector);
    for (const std::string& note : layout.notes)
      FW_LOG("GetAllDrives: Disk" + std::to_string(n) + " " + note);
    if (layout.isMbr) {
      d.PartitionCount = layout.PartitionCount;
      d.Signature = layout.Signature;
      for (int i = 0; i < 4; ++i) {
        d.Partitions[static_cast<size_t>(i)] = layout.slots[static_cast<size_t>(i)];
        const PartitionEntry& p = d.Partitions[static_cast<size_t>(i)];
        if (p.PartitionLength == 0) continue;
        FW_LOG("GetAllDrives: Disk" + std::to_string(n) + " Partition " +
               std::to_string(p.PartitionNumber) + " Type " + Hex2(p.PartitionType) + " Size " +
               FormatSizeText(p.PartitionLength, 0) + " StartSector " +
               std::to_string(p.StartingOffset / d.BytesPerSector) + " Boot " +
               std::to_string(p.BootIndicator));
      }
    } else {
      FW_LOG("GetAllDrives: DriveLayoutInformation " + layout.failure);
      FW_LOG(" Disk" + std::to_string(n) + " (Not MBR disk) " + d.ProductId + " " + d.VendorId);
    }
    records.push_back(d);
    ++s.numberOfDisks;
    for (int i = 0; i < 4; ++i) {
      PartitionEntry& p = records.back().Partitions[static_cast<size_t>(i)];
      if (p.PartitionLength == 0 || p.PartitionNumber == 0) continue;
      ProbeSlot(*dev, p);
      volumes.push_back({records.size() - 1, i, VolumeKey(info.key, p.StartingOffset)});
    }
  }
  FW_LOG("GetAllDrives: Found " + std::to_string(s.numberOfDisks) + " PhysicalDrives");

  // Letters: keep the ones volumes already hold, release the vanished, then hand out new ones.
  BeginLetterPass();
  for (const Volume& v : volumes) {
    const DiskRecord& d = records[v.record];
    const PartitionEntry& p = d.Partitions[static_cast<size_t>(v.slot)];
    KeepLetter(v.key, VolumeLocation{d.DiskNumber, v.slot, p.StartingOffset, p.PartitionLength});
  }
  EndLetterPass();
  for (const Volume& v : volumes) {
    DiskRecord& d = records[v.record];
    PartitionEntry& p = d.Partitions[static_cast<size_t>(v.slot)];
    const NumberedDisk& nd = found[d.DiskNumber];
    std::string letter;
    if (nd.info.rootPartitionOffset >= 0 && nd.info.rootPartitionOffset == p.StartingOffset)
      letter = ClaimDriveLetter(v.key, SystemDriveLetter() + ":");
    else if (!(letter = RememberedLetter(v.key)).empty()) {
    } else if (IsLetteredFileSystem(p.FileSystem))
      letter = ClaimDriveLetter(v.key, "");
    if (letter.empty()) {
      // The system reports label and file system only for volumes it gives a letter.
      p.VolumeName.clear();
      p.FileSystem.clear();
      continue;
    }
    p.DriveLetter = letter;
    AppendLetter(d, letter);
    ++s.numberOfLogicalDrives;
  }
  // A system disk always carries the system letter, so every job refuses it.
  const std::string sys = SystemDriveLetter() + ":";
  for (DiskRecord& d : records) {
    if (!found[d.DiskNumber].info.systemDisk) continue;
    bool has = false;
    for (const PartitionEntry& p : d.Partitions) has = has || p.DriveLetter == sys;
    if (!has) AppendLetter(d, sys);
  }
  return s.numberOfDisks;
}

bool IsDiskOffered(const DiskRecord& d) {
  if (d.BusType == "USB") return true;
  if (d.BusType == "FileBackedVirtual" && d.VendorId == "Image") return true;
  return Settings().EnableFixedDisks != 0 && d.DriveType == 3;
}

std::string DiskRowText(const DiskRecord& d) {
  std::string t = d.BusType + ": ";
  if (!d.VendorId.empty()) t += d.VendorId + " ";
  if (!d.ProductId.empty()) t += d.ProductId + " ";
  if (d.DiskLength != 0) t += FormatSizeText(d.DiskLength, 0) + " (";
  t += d.DriveLetters + ")";
  return t;
}

std::string PartitionRowText(const PartitionEntry& p, int slotIndex) {
  std::string t =
      "Part" + std::to_string(slotIndex + 1) + ": " + FormatSizeText(p.PartitionLength, 0) + " ";
  if (!p.FileSystem.empty()) t += p.FileSystem + " ";
  if (p.BootIndicator != 0) t += "Act ";
  t += p.VolumeName.empty() ? "<NONAME> " : "<" + p.VolumeName + "> ";
  t += p.DriveLetter;
  return t;
}

namespace {

// What the selected row stands for, so that a rebuilt list can find it again: the disk (its
// number is its device path's or image file's for the process's life) with its medium, and the
// slot.
struct SelectedIdentity {
  int32_t diskNumber = -1;
  int slot = -1;
  uint64_t diskSeq = 0;
};

SelectedIdentity IdentityOfSelection(const InventoryState& s) {
  SelectedIdentity id;
  if (s.selected < 0 || s.selected >= static_cast<int>(s.rows.size())) return id;
  const DriveListRow& row = s.rows[static_cast<size_t>(s.selected)];
  id.diskNumber = row.diskNumber;
  id.slot = row.slot;
  auto it = s.disks.find(row.diskNumber);
  if (it != s.disks.end()) id.diskSeq = it->second.info.diskSeq;
  return id;
}

// The row of the same disk and slot (the disk's own row when the slot is gone); row 0 when the
// disk is gone or holds another medium; -1 for an empty list.
int RowOfIdentity(const InventoryState& s, const SelectedIdentity& id) {
  if (s.rows.empty()) return -1;
  auto it = s.disks.find(id.diskNumber);
  if (id.diskNumber < 0 || it == s.disks.end()) return 0;
  const uint64_t seq = it->second.info.diskSeq;
  if (id.diskSeq != 0 && seq != 0 && seq != id.diskSeq) return 0;
  int diskRow = -1;
  for (size_t r = 0; r < s.rows.size(); ++r) {
    if (s.rows[r].diskNumber != id.diskNumber) continue;
    if (s.rows[r].slot == id.slot) return static_cast<int>(r);
    if (s.rows[r].slot < 0) diskRow = static_cast<int>(r);
  }
  return diskRow >= 0 ? diskRow : 0;
}

}  // namespace

int32_t UpdateAllDrives() {
  InventoryState& s = State();
  int32_t count;
  {
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    const SelectedIdentity selected = IdentityOfSelection(s);
    count = GetAllDrives();
    s.rows.clear();
    int row = -1;
    for (DiskRecord& d : DiskRecords()) {
      if (!IsDiskOffered(d)) continue;
      d.ListItem = ++row;
      s.rows.push_back({0, DiskRowText(d), d.DiskNumber, -1});
      for (int i = 0; i < 4; ++i) {
        PartitionEntry& p = d.Partitions[static_cast<size_t>(i)];
        if (p.PartitionLength == 0) continue;
        p.ListItem = ++row;
        s.rows.push_back({1, PartitionRowText(p, i), d.DiskNumber, i});
      }
    }
    FW_LOG("format_op_in_progress = " + std::to_string(format_op_in_progress.load()));
    if (format_op_in_progress == 0) {
      if (!s.rows.empty())
        ShowPrompt("Select the USB Flash Drive, please");
      else if (!s.accessProblem.empty())
        ShowStatus(s.accessProblem, -1);
      else
        ShowPrompt("Insert a USB Flash Drive ...");
    }
    if (!s.accessProblem.empty()) FW_LOG(s.accessProblem);
    FW_LOG("UpdateAllDrives found " + std::to_string(count) + " drives");
    // The next job takes the selected row, and the tree shows that row: a disk still present
    // keeps its place in the selection, else the first row is the one.
    s.selected = RowOfIdentity(s, selected);
  }
  TheUi().DriveListChanged();
  return count;
}

int32_t NumberOfDisks() { return State().numberOfDisks; }
int32_t NumberOfLogicalDrives() { return State().numberOfLogicalDrives; }
std::string InventoryAccessProblem() {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  return s.accessProblem;
}

std::string AccessProblemText(const std::string& device, int error, bool administrator) {
  if (!administrator && (error == EACCES || error == EPERM)) return kNeedRightsText;
  return "Cannot open " + device + ": " + ErrnoText(error);
}

const std::vector<DriveListRow>& DriveListRows() { return State().rows; }
std::vector<DriveListRow> DriveListRowsNow(int* selected) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (selected) *selected = s.selected;
  return s.rows;
}
int SelectedDriveListRow() { return State().selected; }
void SelectDriveListRow(int row) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.selected = (row >= 0 && row < static_cast<int>(s.rows.size())) ? row : -1;
}

int32_t SetCurrentDisk() {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  CurrentDisk() = DiskRecord{};
  const int row = s.selected;
  bool matched = false;
  if (row >= 0 && row < static_cast<int>(s.rows.size())) {
    const bool partitionRow = s.rows[static_cast<size_t>(row)].level == 1;
    for (const DiskRecord& d : DiskRecords()) {
      if (matched) break;
      if (partitionRow) {
        for (int i = 0; i < 4; ++i) {
          const PartitionEntry& p = d.Partitions[static_cast<size_t>(i)];
          if (p.ListItem == row && p.PartitionLength != 0) {
            CurrentDisk() = d;
            CurrentDisk().SelectedPartition = static_cast<uint8_t>(i + 1);
            matched = true;
            break;
          }
        }
      } else if (d.ListItem == row) {
        CurrentDisk() = d;
        CurrentDisk().SelectedPartition = 0;
        matched = true;
      }
    }
  }
  const DiskRecord& c = CurrentDisk();
  FW_LOG("CurrentDisk: DiskNumber = " + std::to_string(c.DiskNumber) +
         " SelectedPartition = " + std::to_string(c.SelectedPartition) +
         " DriveLetters = " + c.DriveLetters + " BusType = " + c.BusType);
  return matched ? 1 : 0;
}

int32_t SetCurrentDisk(int32_t diskNumber, int slot) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  int found = -1;
  for (size_t r = 0; r < s.rows.size(); ++r)
    if (s.rows[r].diskNumber == diskNumber && s.rows[r].slot == (slot < 0 ? -1 : slot))
      found = static_cast<int>(r);
  if (found < 0) {
    CurrentDisk() = DiskRecord{};
    return 0;
  }
  s.selected = found;
  return SetCurrentDisk();
}

int64_t DriveSize(DriveHandle handle) {
  BlockDevice* dev = DeviceForHandle(handle);
  return dev ? static_cast<int64_t>(dev->SizeBytes()) : 0;
}

static std::string VolumeFact(const std::string& path, bool label) {
  if (path.empty()) return "";
  VolumeLocation where;
  NumberedDisk nd;
  int err = 0;
  std::unique_ptr<BlockDevice> dev;
  if (LookupDriveLetter(path, &where) && FindNumberedDisk(where.DiskNumber, &nd))
    dev = nd.backend->Open(nd.info, false, &err);
  if (!dev ||
      static_cast<uint64_t>(where.StartingOffset + where.PartitionLength) > dev->SizeBytes()) {
    FW_LOG("Error " + std::to_string(err) +
           (label ? " DriveNameOfVol() For volume " : " DriveNameOfFS() For volume ") + path);
    return "";
  }
  WindowDevice window(*dev, static_cast<uint64_t>(where.StartingOffset),
                      static_cast<uint64_t>(where.PartitionLength));
  const VolumeFacts f = ProbeVolume(window);
  return label ? f.VolumeName : f.FileSystem;
}

std::string DriveNameOfVol(const std::string& path) { return VolumeFact(path, true); }
std::string DriveNameOfFS(const std::string& path) { return VolumeFact(path, false); }

std::string AssignDriveLetter(int32_t DiskNumber, int slot) {
  InventoryState& s = State();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  if (slot < 0 || slot > 3) return "";
  NumberedDisk nd;
  if (!FindNumberedDisk(DiskNumber, &nd)) return "";
  DiskRecord* rec = nullptr;
  for (DiskRecord& d : DiskRecords())
    if (d.DiskNumber == DiskNumber) rec = &d;
  if (!rec) return "";
  PartitionEntry& p = rec->Partitions[static_cast<size_t>(slot)];
  if (p.PartitionLength == 0) return "";
  if (!p.DriveLetter.empty()) return p.DriveLetter;
  const std::string key = VolumeKey(nd.info.key, p.StartingOffset);
  const std::string letter = ClaimDriveLetter(key, "");
  if (letter.empty()) return "";
  KeepLetter(key, VolumeLocation{DiskNumber, slot, p.StartingOffset, p.PartitionLength});
  p.DriveLetter = letter;
  p.VolumeName = DriveNameOfVol(letter);
  p.FileSystem = DriveNameOfFS(letter);
  AppendLetter(*rec, letter);
  if (CurrentDisk().DiskNumber == DiskNumber) {
    CurrentDisk().Partitions[static_cast<size_t>(slot)] = p;
    CurrentDisk().DriveLetters = rec->DriveLetters;
  }
  FW_LOG("AssignDriveLetter: " + letter + " for Disk" + std::to_string(DiskNumber) + " slot " +
         std::to_string(slot + 1));
  return letter;
}

}  // namespace fw
