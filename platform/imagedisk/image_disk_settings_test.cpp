// The attached-images list travels through the settings file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/settings.h"
#include "platform/imagedisk/image_disk.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(AttachedImagesInSettings, RememberedImagesComeBackOneOffAndVanishedOnesDoNot) {
  const fs::path dir = fs::temp_directory_path() / ("fw-imgset-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string keep = (dir / "keep.img").string(), once = (dir / "once.img").string(),
                    gone = (dir / "gone.img").string();
  for (const std::string& p : {keep, once, gone}) ASSERT_EQ(CreateImageFile(p, 1 << 20), 1);
  SetSettingsPath((dir / "settings.ini").string());
  KeepAttachedImagesInSettings();
  KeepAttachedImagesInSettings();  // twice: still one group

  DetachAllImageDisks();
  SetRememberAttachedImages(false);
  ASSERT_EQ(AttachImageDisk(once, 512), 1);
  SetRememberAttachedImages(true);
  ASSERT_EQ(AttachImageDisk(keep, 4096), 1);
  ASSERT_EQ(AttachImageDisk(gone, 512), 1);
  SaveSetting();
  const std::string text = Slurp((dir / "settings.ini").string());
  EXPECT_NE(text.find("[Disk Images]\r\nImage1=4096|" + keep + "\r\nImage2=512|" + gone + "\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("once.img"), std::string::npos);
  EXPECT_EQ(text.find("[Disk Images]"), text.rfind("[Disk Images]"));

  // A fresh start: the list is empty until the settings are read.
  DetachAllImageDisks();
  SetRememberAttachedImages(false);
  fs::remove(gone);
  LoadSetting();
  ASSERT_EQ(AttachedImages().size(), 1u);
  EXPECT_EQ(AttachedImages()[0].path, keep);
  EXPECT_EQ(AttachedImages()[0].sectorSize, 4096u);
  EXPECT_TRUE(AttachedImages()[0].remembered);

  // Saving again drops the vanished image; the one-off attach is still not written.
  ASSERT_EQ(AttachImageDisk(once, 512), 1);
  SaveSetting();
  const std::string again = Slurp((dir / "settings.ini").string());
  EXPECT_NE(again.find("Image1=4096|" + keep), std::string::npos);
  EXPECT_EQ(again.find("gone.img"), std::string::npos);
  EXPECT_EQ(again.find("once.img"), std::string::npos);

  DetachAllImageDisks();
  SetSettingsPath("");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fw
