// The windows as data: which controls exist, their numbers, kinds, positions, texts and tooltips,
// and the main window's menu. A front end draws these models; the dispatcher addresses the same
// numbers.
#pragma once

#include <string>
#include <vector>

namespace fw {

enum class ControlKind {
  Frame,   // group box, text is its caption (may be empty)
  Tree,    // the drive tree
  Canvas,  // the status line
  Button,
  Hyperlink,  // grey text, blue under the pointer; a click sends UiEventKind::MouseDown
  Option,     // radio button; options with the same `group` exclude each other
  DropDown,   // non-editable combo box; `items` are its initial items
  Text,       // static text
  TextField,  // one-line edit field
  CheckBox,
  Picture,  // the About window's icon
};

struct ControlModel {
  int number = 0;
  ControlKind kind = ControlKind::Text;
  int x = 0, y = 0, width = 0, height = 0;
  std::string text;
  std::string tooltip;
  std::vector<std::string> items;
  int group = 0;            // option group (Option only)
  int maxLength = 0;        // TextField: 0 = unlimited
  bool digitsOnly = false;  // TextField
  bool centred = false;     // Text: centre each line
};

struct MenuItemModel {
  int number = 0;  // 0 for a separator
  std::string text;
  int image = -1;  // 0..6, -1 none
  bool separator = false;
};

struct MenuModel {
  std::string title;
  std::vector<MenuItemModel> items;
};

struct WindowModel {
  int number = 0;
  std::string title;
  int width = 0, height = 0;  // inner size
  std::vector<ControlModel> controls;
  std::vector<MenuModel> menus;

  const ControlModel* Find(int control) const;
};

// Main window control numbers.
namespace main_ctl {
inline constexpr int kDlCenter = 1, kFormat = 2, kBackup = 3, kRestore = 4, kExit = 5, kEject = 6,
                     kRefresh = 7, kStatus = 19, kFrame = 37, kMakerLink = 55, kDriveTree = 97;
// The menu bar's fourth title (" Latest Clover: ..."), addressed through Ui::SetControlText.
inline constexpr int kLatestCloverTitle = 200;
}  // namespace main_ctl

// Menu item numbers.
namespace menu_item {
inline constexpr int kConfiguration = 1, kInstallHfs = 2, kUnInstallHfs = 3, kExtractHfs = 4,
                     kHelp = 6, kCloverWiki = 7, kCloudEditor = 8, kAbout = 9, kQuit = 10,
                     kAttachImage = 11, kNewImage = 12;
}  // namespace menu_item

// Configuration window control numbers.
namespace cfg_ctl {
inline constexpr int kCheckNow = 10, kOk = 11, kCloverRepo = 13, kImageRepo = 14,
                     kCheckAtStartup = 20, kMakeDistr = 21, kMultiPartitions = 22,
                     kLocalDistrList = 25, kRevisionList = 26, kAlignList = 27, kClusterList = 28,
                     kFileSystemList = 29, kFixedDisks = 34, kSourceDl = 64, kSourceLocal = 65,
                     kSourceNone = 66, kBootWindows = 67, kBootClover = 68, kBootFreeDos = 69,
                     kBootNone = 70, kPartitionSize = 77, kVolumeLabel = 79, kLocalDistrRev = 80,
                     kCheckDate = 81, kUpdateNews = 82;
}  // namespace cfg_ctl

// About window control numbers.
namespace about_ctl {
inline constexpr int kOk = 9, kForumLink = 54, kCloverLink = 57, kWikiLink = 58, kDonateLink = 59,
                     kPicture = 60, kFrame = 41, kAboutText = 92, kPurpose = 84, kHowTo = 85;
}  // namespace about_ctl

// Download Center control numbers.
namespace dlc_ctl {
inline constexpr int kExit = 15, kUpdate = 16, kClear = 17, kDl = 18, kRecoveryList = 31,
                     kPackageList = 32, kRecoveryOption = 73, kPackageOption = 74;
}  // namespace dlc_ctl

std::string MainWindowTitle();
std::string ConfigWindowTitle();
std::string DownloadCenterTitle();
// " Latest Clover: Check It!" or " Latest Clover: r" + revision.
std::string LatestCloverMenuTitle(const std::string& cloverLastRev);

WindowModel MainWindowModel();
WindowModel AboutWindowModel();
WindowModel DownloadCenterModel();
WindowModel ConfigWindowModel();
// The model of window 0..3.
WindowModel WindowModelFor(int window);

// Web targets of the hyperlinks and the Help menu. The Clover project page and its commit log are
// on the code-hosting site of net/code_host.h (CloverProjectUrl, CloverCommitsUrl). The maker's
// home page, the donation page and the online configuration editor have no published address: the
// three below are stand-ins that open nothing useful until the real addresses are filled in.
namespace links {
inline constexpr const char* kMakerHome = "https://github.com/flashwright-mivo";
inline constexpr const char* kDonate = "https://github.com/sponsors/flashwright-mivo";
inline constexpr const char* kCloverWiki =
    "https://github.com/CloverHackyColor/CloverBootloader/wiki";
inline constexpr const char* kCloverForum = "https://www.applelife.ru/forums/";
inline constexpr const char* kCloudEditor = "https://cloverconfig.example.org/";
}  // namespace links

}  // namespace fw
