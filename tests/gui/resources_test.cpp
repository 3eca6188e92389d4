// The resources compiled into Update.exe, read back from the built file: the
// dialog template, the icon group and the manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "test_files.h"
#include "update/files/win32_handle.h"
#include "update/ui/resource.h"

namespace {

class ResourceReader {
 public:
  explicit ResourceReader(const std::string& path)
      : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}

  bool Loaded() const { return module_.IsValid(); }
  // The bytes of one resource, empty when it is missing.
  std::vector<unsigned char> Bytes(LPCSTR type, int id, WORD language) const {
    HRSRC found = FindResourceExA(module_.Get(), type, MAKEINTRESOURCEA(id), language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module_.Get(), found);
    const auto* data = static_cast<const unsigned char*>(LockResource(loaded));
    return std::vector<unsigned char>(data, data + SizeofResource(module_.Get(), found));
  }

 private:
  UniqueModule module_;
};

constexpr WORD kChinesePrc = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

bool DestroyIconHandle(HICON icon) { return DestroyIcon(icon) != FALSE; }
bool DeleteBitmap(HBITMAP bitmap) { return DeleteObject(bitmap) != FALSE; }
using UniqueIcon = UniqueResource<HICON, DestroyIconHandle>;
using UniqueBitmap = UniqueResource<HBITMAP, DeleteBitmap>;

uint32_t LittleEndian32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// The size of the icon the system makes of one image: proof that it reads it.
SIZE DecodedIconSize(std::vector<unsigned char>& image, int side) {
  UniqueIcon icon(CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE,
                                           0x00030000, side, side, LR_DEFAULTCOLOR));
  ICONINFO info = {};
  if (!icon || !GetIconInfo(icon.Get(), &info)) return SIZE{0, 0};
  UniqueBitmap colour(info.hbmColor);
  UniqueBitmap mask(info.hbmMask);
  BITMAP bitmap = {};
  if (!GetObjectA(colour ? colour.Get() : mask.Get(), sizeof(bitmap), &bitmap)) return SIZE{0, 0};
  // A monochrome icon stacks its AND and XOR masks in one bitmap.
  return SIZE{bitmap.bmWidth, colour ? bitmap.bmHeight : bitmap.bmHeight / 2};
}

// Walks a dialog template field by field.
class TemplateCursor {
 public:
  explicit TemplateCursor(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
  WORD Word() { return static_cast<WORD>(Take(2)); }
  DWORD Dword() { return static_cast<DWORD>(Take(4)); }
  short Short() { return static_cast<short>(Word()); }
  BYTE Byte() { return static_cast<BYTE>(Take(1)); }
  // A text in the template's UTF-16, returned in code page 936 so that it
  // compares with the program's own literals.
  std::string Text() {
    std::wstring wide;
    while (WCHAR c = Word()) wide += c;
    char narrow[512] = {};
    WideCharToMultiByte(936, 0, wide.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr);
    return narrow;
  }
  // A class or title: an ordinal (0xFFFF, number) or a text.
  std::string NameOrOrdinal() {
    if (Peek() == 0xFFFF) {
      Word();
      switch (WORD ordinal = Word()) {
        case 0x80:
          return "Button";
        case 0x82:
          return "Static";
        default:
          return "#" + std::to_string(ordinal);
      }
    }
    return Text();
  }
  void AlignDword() { offset_ = (offset_ + 3) & ~size_t(3); }
  bool Overran() const { return overran_; }

 private:
  WORD Peek() const {
    return offset_ + 2 <= bytes_.size()
               ? static_cast<WORD>(bytes_[offset_] | (bytes_[offset_ + 1] << 8))
               : 0;
  }
  uint32_t Take(size_t count) {
    if (offset_ + count > bytes_.size()) {
      overran_ = true;
      return 0;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= uint32_t(bytes_[offset_ + i]) << (8 * i);
    offset_ += count;
    return value;
  }
  const std::vector<unsigned char>& bytes_;
  size_t offset_ = 0;
  bool overran_ = false;
};

struct ExpectedControl {
  DWORD id;
  const char* className;
  const char* text;
  DWORD style;
  short x, y, cx, cy;
};

TEST(UpdateResources, DialogTemplateIsTheChineseUpdateDialog) {
  ResourceReader exe(BuiltUpdateExe());
  ASSERT_TRUE(exe.Loaded());
  std::vector<unsigned char> bytes = exe.Bytes(RT_DIALOG, IDD_UPDATE, kChinesePrc);
  ASSERT_FALSE(bytes.empty()) << "no Chinese (PRC) dialog 102";

  TemplateCursor t(bytes);
  EXPECT_EQ(t.Word(), 1);       // dlgVer: an extended template
  EXPECT_EQ(t.Word(), 0xFFFF);  // signature
  t.Dword();                    // help id
  EXPECT_EQ(t.Dword(), 0u);     // extended style
  EXPECT_EQ(t.Dword(), 0x80C808C8u);
  WORD controls = t.Word();
  EXPECT_EQ(controls, 5);
  EXPECT_EQ(t.Short(), 0);
  EXPECT_EQ(t.Short(), 0);
  EXPECT_EQ(t.Short(), 328);
  EXPECT_EQ(t.Short(), 46);
  EXPECT_EQ(t.NameOrOrdinal(), "");  // menu
  EXPECT_EQ(t.NameOrOrdinal(), "");  // class
  EXPECT_EQ(t.Text(), "【Orvenna】更新补丁，双击可更换目录名");
  EXPECT_EQ(t.Word(), 8);
  EXPECT_EQ(t.Word(), 400);
  EXPECT_EQ(t.Byte(), 0);  // not italic
  EXPECT_EQ(t.Byte(), 1);  // character set
  EXPECT_EQ(t.Text(), "MS Shell Dlg");

  const ExpectedControl expected[] = {
      {IDC_DIR_LABEL, "Static", "【Orvenna】游戏目录：", 0x50020000, 8, 6, 81, 8},
      {IDC_UPDATE, "Button", "更新", 0x50010000, 291, 4, 30, 14},
      {IDC_GAME_DIR, "Static", "", 0x50021300, 90, 4, 196, 13},
      {IDC_PROGRESS_FILE, "msctls_progress32", "", 0x50800000, 8, 29, 313, 13},
      {IDC_STATUS, "Static", "", 0x50020000, 8, 19, 203, 8},
  };
  for (const ExpectedControl& want : expected) {
    SCOPED_TRACE(want.id);
    t.AlignDword();
    t.Dword();                 // help id
    EXPECT_EQ(t.Dword(), 0u);  // extended style
    EXPECT_EQ(t.Dword(), want.style);
    EXPECT_EQ(t.Short(), want.x);
    EXPECT_EQ(t.Short(), want.y);
    EXPECT_EQ(t.Short(), want.cx);
    EXPECT_EQ(t.Short(), want.cy);
    EXPECT_EQ(t.Dword(), want.id);
    EXPECT_EQ(_stricmp(t.NameOrOrdinal().c_str(), want.className), 0);
    EXPECT_EQ(t.NameOrOrdinal(), want.text);
    WORD extra = t.Word();
    for (WORD i = 0; i < extra; ++i) t.Byte();
  }
  EXPECT_FALSE(t.Overran());
}

TEST(UpdateResources, IconGroupHoldsTheEightImages) {
  ResourceReader exe(BuiltUpdateExe());
  ASSERT_TRUE(exe.Loaded());
  std::vector<unsigned char> group = exe.Bytes(RT_GROUP_ICON, IDI_APP, kChinesePrc);
  ASSERT_GE(group.size(), 6u);
  const int count = group[4] | (group[5] << 8);
  ASSERT_EQ(count, 8);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  const int sides[] = {32, 32, 40, 48, 64, 72, 80, 256};
  for (int i = 0; i < count; ++i) {
    const unsigned char* entry = &group[6 + 14 * i];
    int side = entry[0] ? entry[0] : 256;
    int bits = entry[6] | (entry[7] << 8);
    EXPECT_EQ(side, sides[i]) << "image " << i;
    EXPECT_EQ(entry[1] ? entry[1] : 256, side) << "image " << i;
    // Up to 48 px the images are 24-bit DIBs, which every loader reads; the
    // larger ones are RGBA PNGs (a fraction of the size), which the system
    // reads at any size since Vista.
    const bool wantPng = side >= 64;
    EXPECT_EQ(bits, wantPng ? 32 : 24) << "image " << i;
    const int id = entry[12] | (entry[13] << 8);
    std::vector<unsigned char> image = exe.Bytes(RT_ICON, id, kChinesePrc);
    ASSERT_GE(image.size(), 40u) << "image " << i;
    const unsigned char pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool isPng = std::memcmp(image.data(), pngSignature, 8) == 0;
    EXPECT_EQ(isPng, wantPng) << "image " << i;
    if (isPng) {
      // The header chunk: width, height, 8 bits per sample, colour type 6 (RGBA).
      EXPECT_EQ(std::memcmp(&image[12], "IHDR", 4), 0) << "image " << i;
      EXPECT_EQ(BigEndian32(&image[16]), uint32_t(side)) << "image " << i;
      EXPECT_EQ(BigEndian32(&image[20]), uint32_t(side)) << "image " << i;
      EXPECT_EQ(image[24], 8) << "image " << i;
      EXPECT_EQ(image[25], 6) << "image " << i;
    } else {
      // BITMAPINFOHEADER: its size, the width, the height of colour and mask together.
      EXPECT_EQ(LittleEndian32(&image[0]), 40u) << "image " << i;
      EXPECT_EQ(LittleEndian32(&image[4]), uint32_t(side)) << "image " << i;
      EXPECT_EQ(LittleEndian32(&image[8]), uint32_t(2 * side)) << "image " << i;
      EXPECT_EQ(image[14] | (image[15] << 8), 24) << "image " << i;
    }
    SIZE decoded = DecodedIconSize(image, side);
    EXPECT_EQ(decoded.cx, side) << "image " << i;
    EXPECT_EQ(decoded.cy, side) << "image " << i;
  }
}

TEST(UpdateResources, ManifestAsksForAdministrator) {
  ResourceReader exe(BuiltUpdateExe());
  ASSERT_TRUE(exe.Loaded());
  std::vector<unsigned char> bytes;
  // Manifests usually carry the neutral language; accept whichever is there.
  for (WORD language : {WORD(0), kChinesePrc, WORD(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US))}) {
    bytes = exe.Bytes(MAKEINTRESOURCEA(24), 1, language);
    if (!bytes.empty()) break;
  }
  ASSERT_FALSE(bytes.empty()) << "no RT_MANIFEST 1";
  std::string manifest(bytes.begin(), bytes.end());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
  EXPECT_EQ(manifest.find("<dependency"), std::string::npos);
}

}  // namespace
