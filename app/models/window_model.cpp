#include "app/models/window_model.h"

#include "app/globals.h"

namespace fw {

const ControlModel* WindowModel::Find(int control) const {
  for (const ControlModel& c : controls) {
    if (c.number == control) return &c;
  }
  return nullptr;
}

std::string MainWindowTitle() {
  return std::string(kProgramName) + " " + kVersionString + " by Mivo " + kBuildDate;
}

std::string ConfigWindowTitle() { return std::string("Configuration ") + kBuildDate; }

std::string DownloadCenterTitle() {
  return std::string("Download Center - ") + kProgramName + " " + kVersionString + " by Mivo";
}

std::string LatestCloverMenuTitle(const std::string& cloverLastRev) {
  if (cloverLastRev == "Check It!") return " Latest Clover: Check It!";
  return " Latest Clover: r" + cloverLastRev;
}

namespace {

ControlModel Make(int number, ControlKind kind, int x, int y, int w, int h, std::string text = "",
                  std::string tooltip = "") {
  ControlModel c;
  c.number = number;
  c.kind = kind;
  c.x = x;
  c.y = y;
  c.width = w;
  c.height = h;
  c.text = std::move(text);
  c.tooltip = std::move(tooltip);
  return c;
}

ControlModel Option(int number, int group, int x, int y, int w, int h, std::string text,
                    std::string tooltip) {
  ControlModel c =
      Make(number, ControlKind::Option, x, y, w, h, std::move(text), std::move(tooltip));
  c.group = group;
  return c;
}

ControlModel List(int number, int x, int y, int w, int h, std::vector<std::string> items,
                  std::string tooltip = "") {
  ControlModel c = Make(number, ControlKind::DropDown, x, y, w, h, "", std::move(tooltip));
  c.items = std::move(items);
  return c;
}

using K = ControlKind;

}  // namespace

WindowModel MainWindowModel() {
  WindowModel w;
  w.number = 0;
  w.title = MainWindowTitle();
  w.width = 480;
  w.height = 265;
  w.controls = {
      Make(37, K::Frame, 5, 2, 470, 149, "Destination Disk"),
      Make(97, K::Tree, 10, 20, 460, 124),
      Make(19, K::Canvas, 5, 154, 470, 21),
      Make(3, K::Button, 15, 178, 80, 26, "Backup", "Backup selected Partition to Image file"),
      Make(4, K::Button, 100, 178, 80, 26, "Restore", "Restore selected Partition from Image file"),
      Make(2, K::Button, 185, 178, 80, 26, "Format",
           "Prepare USB flash drive with one of several sets of boot records and Data Set of "
           "Bootloaders"),
      Make(6, K::Button, 290, 178, 85, 26, "Eject", "Safely ejecting of USB Flash drive"),
      Make(1, K::Button, 380, 178, 85, 26, "DL Center", "Open ZOR Download Center"),
      Make(5, K::Button, 15, 209, 65, 26, "Exit"),
      Make(7, K::Button, 380, 209, 85, 26, "Refresh",
           "Force update of the list of connected drives"),
      Make(55, K::Hyperlink, 130, 216, 120, 15, "(c) Mivo, 2012-2022"),
  };
  w.menus = {
      {"Options",
       {{menu_item::kConfiguration, "&Configuration", 0, false},
        {0, "", -1, true},
        {menu_item::kAttachImage, "Attach Disk &Image...", -1, false},
        {menu_item::kNewImage, "&New Disk Image...", -1, false},
        {0, "", -1, true},
        {menu_item::kQuit, "&Quit\tEsc", -1, false}}},
      {"Tools",
       {{menu_item::kInstallHfs, "&Install BootCamp HFS+ RO Driver", 1, false},
        {menu_item::kUnInstallHfs, "&UnInstall BootCamp HFS+ RO Driver", 1, false},
        {menu_item::kExtractHfs, "&Extract HFS(HFS+) partition from DMG-files", 2, false}}},
      {"&Help",
       {{menu_item::kHelp, "&Help", 3, false},
        {menu_item::kCloverWiki, "&Clover WiKi", 3, false},
        {menu_item::kCloudEditor, "Cloud Clover &Editor", 3, false},
        {menu_item::kAbout, "&About", 4, false}}},
      {LatestCloverMenuTitle("Check It!"), {}},
  };
  return w;
}

WindowModel AboutWindowModel() {
  WindowModel w;
  w.number = 1;
  w.title = "About";
  w.width = 400;
  w.height = 400;
  const int h = w.height;
  ControlModel about = Make(92, K::Text, 210, 15, 125, 75,
                            std::string(kProgramName) + " by Mivo\n" + kVersionString +
                                "\n(c) Mivo, 2012-2022\n\nFor active development:");
  about.centred = true;
  w.controls = {
      Make(60, K::Picture, 60, 25, 96, 96),
      Make(57, K::Hyperlink, 30, 110, 80, 15, "- Clover source -"),
      Make(54, K::Hyperlink, 30, 130, 140, 15, "- Russian Clover discussion -"),
      Make(58, K::Hyperlink, 30, 150, 80, 15, "- Clover WiKi -"),
      Make(59, K::Hyperlink, 200, 90, 180, 15, "Donate, if you find it useful"),
      about,
      Make(84, K::Text, 190, 115, 175, 70,
           std::string(kProgramName) +
               " is intended to make a external bootable USB Flash Disk by installing to it "
               "special Data set (MBR, PBR sectors and Data files) of EFI-based Clover "
               "bootloader."),
      Make(41, K::Frame, 5, 185, 390, h - 220),
      Make(85, K::Text, 30, 200, 360, h - 220,
           "\tHOW-TO create a Clover Bootable Flash drive\n"
           "\t\twith MAC OS X Recovery HD:\n"
           "\n"
           "1. Fine-tune the ZOR [Configuration] (By default, not required).\n"
           "2. Select any Flash Drive (may be tested on virtual or hard drives, too).\n"
           "3. [Format] selected Flash Drive into 2 partitions:\n"
           "    Clover bootloader will be automatically installed to the 1st Partition.\n"
           "4. Open [Download Center], [Update] Recovery HD Download List\n"
           "    and [DL] any Apple MAC OS X Recovery HD. HFS-Image will be\n"
           "    automatically extracted from pkg to the ZORImage Local Repo.\n"
           "5. [Restore ...] HFS-Image file to the 2nd Disk Partition\n"
           "6. Enjoy :-)"),
      Make(9, K::Button, 108, h - 26, 183, 20, "OK"),
  };
  return w;
}

WindowModel DownloadCenterModel() {
  WindowModel w;
  w.number = 2;
  w.title = DownloadCenterTitle();
  w.width = 440;
  w.height = 145;
  const int h = w.height;
  w.controls = {
      Make(52, K::Frame, 10, 10, 420, 48),
      Option(73, 1, 15, 10, 160, 13, " Recovery HD for macOS:", ""),
      List(31, 20, 28, 400, 20, {},
           "Select MAC OS X Recovery HD for Download and Automatically Extract HFS-Image"),
      Make(53, K::Frame, 10, 60, 420, 48),
      Option(74, 1, 15, 60, 120, 13, " Additional Packages:", ""),
      List(32, 20, 78, 400, 20, {}, "Select Item from User or ZOR Download Lists for Download"),
      Make(15, K::Button, 20, h - 30, 70, 20, "Exit"),
      Make(17, K::Button, 95, h - 30, 70, 20, "Clear", "Clear DL list"),
      Make(16, K::Button, 170, h - 30, 70, 20, "Update", "Check and Update Selected Download List"),
      Make(18, K::Button, 320, h - 30, 100, 20, "DL", "DL selected Item"),
  };
  return w;
}

WindowModel ConfigWindowModel() {
  WindowModel w;
  w.number = 3;
  w.title = ConfigWindowTitle();
  w.width = 275;
  w.height = 465;
  ControlModel label = Make(79, K::TextField, 145, 210, 100, 20);
  label.maxLength = 11;
  ControlModel size = Make(77, K::TextField, 180, 345, 65, 20, "", "32 - 200000 MB");
  size.digitsOnly = true;
  w.controls = {
      Make(43, K::Frame, 5, 5, 265, 170, "Clover Bootloader Source"),
      Option(65, 1, 15, 25, 42, 21, "Local", "Local Repository"),
      List(25, 60, 25, 140, 20, {}, "Select Local Distr"),
      Make(80, K::Text, 203, 28, 60, 15),
      Option(64, 1, 15, 55, 35, 20, "DL", "Download the Data Set from the Clover download site"),
      List(26, 60, 55, 55, 20, {}, "Select Revision for Download"),
      Make(81, K::Text, 120, 57, 80, 15),
      Make(82, K::Hyperlink, 200, 57, 58, 15, "Upd. News", "Open Clover Update Log link"),
      Make(44, K::Frame, 15, 75, 245, 35),
      Make(20, K::CheckBox, 30, 85, 110, 20, "Check at Startup",
           "Check the Latest Rev. at Startup"),
      Make(10, K::Button, 180, 85, 65, 20, "Check Now",
           "Look up the latest revision on the Clover download site"),
      Make(21, K::CheckBox, 30, 115, 130, 20, "Make ZOR-ready Distr",
           "Prepare and Save ZOR-ready Distr to Local Repo after use lzma archive"),
      Make(13, K::Button, 180, 115, 65, 20, "Local Repo",
           "Set Clover ZOR-ready Archives Local Repository Path"),
      Option(66, 1, 15, 146, 80, 20, "Not Install", "Format Disk Only"),
      Make(47, K::Frame, 5, 175, 265, 205, "Format options"),
      Make(48, K::Frame, 15, 190, 110, 135, "Boot records"),
      Option(68, 2, 30, 210, 60, 20, "Clover", "Format drive and Install Clover Boot records"),
      Option(67, 2, 30, 240, 75, 20, "Windows", "Format drive and Install Windows Boot records"),
      Option(69, 2, 30, 270, 75, 20, "FreeDos",
             "Format drive and Install FreeDos Bootloader records"),
      Option(70, 2, 30, 300, 80, 20, "Not Format", "Don't Re-Format Drive"),
      Make(83, K::Text, 145, 190, 75, 15, "Volume label"),
      label,
      List(29, 145, 240, 100, 20, {"File System:", "FAT32", "FAT32-LBA", "NTFS", "exFAT", "UDF"},
           "FAT32 for old BIOS/OS ver. | FAT32-LBA for Modern USB Flash/Hard drives"),
      List(28, 145, 270, 100, 20, {"Cluster Size:", "Default"}),
      List(27, 145, 300, 100, 20, {"Align to sectors:", "63", "2048", "4096", "8192"},
           "63 sec old align to cylinder | 2048-8192 sec for Modern USB Flash/Hard drives"),
      Make(49, K::Frame, 15, 325, 245, 50, "Multi Partitioning"),
      Make(22, K::CheckBox, 30, 345, 145, 20, "Boot Partition Size (MB)",
           "Create 2 Partitions: 1-st Boot(Clover) and 2-nd for deployment of MACOSX distr"),
      size,
      Make(51, K::Frame, 5, 380, 265, 45, "Other"),
      Make(34, K::CheckBox, 30, 395, 120, 20, "Enable Fixed Disks",
           "For advanced users only! Use it with caution!"),
      Make(14, K::Button, 180, 395, 65, 20, "Local Repo",
           "Set ZORImage Files Local Repository Path"),
      Make(11, K::Button, 46, 433, 183, 20, "OK"),
  };
  return w;
}

WindowModel WindowModelFor(int window) {
  switch (window) {
    case 1:
      return AboutWindowModel();
    case 2:
      return DownloadCenterModel();
    case 3:
      return ConfigWindowModel();
    default:
      return MainWindowModel();
  }
}

}  // namespace fw
