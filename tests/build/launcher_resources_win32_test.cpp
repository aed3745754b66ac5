// The built launcher's resources, read back the way Windows reads them: the
// icon through the icon loader, the version through the version API and the
// manifest through an activation context. The executable is opened as a data
// file, so none of its code runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/version.h"
#include "platform/encoding.h"

namespace {

std::wstring LauncherPath() {
  std::string text = QUILLWAVE_LAUNCHER_PATH;
  if (!text.empty() && text[0] == '/') text = "Z:" + text;  // Wine maps the Unix root to Z:
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

class DataModule {
 public:
  explicit DataModule(const std::wstring& path)
      : module_(::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  ~DataModule() {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

class OwnedIcon {
 public:
  explicit OwnedIcon(HICON icon) : icon_(icon) {}
  OwnedIcon(const OwnedIcon&) = delete;
  OwnedIcon& operator=(const OwnedIcon&) = delete;
  ~OwnedIcon() {
    if (icon_ != nullptr) ::DestroyIcon(icon_);
  }
  HICON get() const { return icon_; }

 private:
  HICON icon_;
};

class OwnedBitmap {
 public:
  explicit OwnedBitmap(HBITMAP bitmap) : bitmap_(bitmap) {}
  OwnedBitmap(const OwnedBitmap&) = delete;
  OwnedBitmap& operator=(const OwnedBitmap&) = delete;
  ~OwnedBitmap() {
    if (bitmap_ != nullptr) ::DeleteObject(bitmap_);
  }
  HBITMAP get() const { return bitmap_; }

 private:
  HBITMAP bitmap_;
};

class ActivationContext {
 public:
  explicit ActivationContext(HANDLE context) : context_(context) {}
  ActivationContext(const ActivationContext&) = delete;
  ActivationContext& operator=(const ActivationContext&) = delete;
  ~ActivationContext() {
    if (valid()) ::ReleaseActCtx(context_);
  }
  HANDLE get() const { return context_; }
  bool valid() const { return context_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE context_;
};

// A resource's bytes; empty when the module has no such resource.
std::vector<std::uint8_t> ResourceBytes(HMODULE module, const wchar_t* type, WORD id) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(module, found);
  const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(loaded));
  if (bytes == nullptr) return {};
  return std::vector<std::uint8_t>(bytes, bytes + ::SizeofResource(module, found));
}

std::uint16_t Word(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::uint32_t Dword(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint32_t>(Word(b, at)) | (static_cast<std::uint32_t>(Word(b, at + 2)) << 16);
}

struct GroupEntry {
  int width;
  int height;
  int bit_count;
  std::uint32_t bytes;
  WORD id;
};

// The group directory as the resource compiler stores it: a 6-byte header and
// 14-byte entries that name RT_ICON resources by ID.
std::vector<GroupEntry> IconGroup(const std::vector<std::uint8_t>& group) {
  std::vector<GroupEntry> entries;
  if (group.size() < 6 || Word(group, 0) != 0 || Word(group, 2) != 1) return entries;
  const std::size_t count = Word(group, 4);
  if (group.size() < 6 + 14 * count) return entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 14 * i;
    entries.push_back({group[at] == 0 ? 256 : group[at], group[at + 1] == 0 ? 256 : group[at + 1], Word(group, at + 6),
                       Dword(group, at + 8), Word(group, at + 12)});
  }
  return entries;
}

const std::set<int> kIconSizes = {16, 20, 24, 32, 40, 48, 64, 96, 128};

class LauncherResources : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module_.get(), nullptr) << "cannot open the launcher, error " << ::GetLastError(); }
  HMODULE module() const { return module_.get(); }

 private:
  DataModule module_{LauncherPath()};
};

TEST_F(LauncherResources, IconGroupOneHoldsNine32BitSquareImagesFrom16To128) {
  const auto entries = IconGroup(ResourceBytes(module(), RT_GROUP_ICON, 1));
  ASSERT_EQ(entries.size(), 9u);
  std::set<int> sizes;
  for (const auto& entry : entries) {
    SCOPED_TRACE(entry.width);
    EXPECT_EQ(entry.width, entry.height);
    EXPECT_EQ(entry.bit_count, 32);
    sizes.insert(entry.width);
    // Each entry must point at an image of the size it announces.
    EXPECT_EQ(ResourceBytes(module(), RT_ICON, entry.id).size(), entry.bytes);
  }
  EXPECT_EQ(sizes, kIconSizes);
}

// Each image is a 32-bit DIB with straight alpha: transparent outside the
// rounded square, opaque in the middle, partly covered pixels along the edges,
// and an AND mask that agrees with the alpha for callers that draw with it.
TEST_F(LauncherResources, IconImagesHaveAntialiasedAlphaAndAMatchingMask) {
  for (const auto& entry : IconGroup(ResourceBytes(module(), RT_GROUP_ICON, 1))) {
    SCOPED_TRACE(entry.width);
    const auto image = ResourceBytes(module(), RT_ICON, entry.id);
    ASSERT_GE(image.size(), 40u);
    const int size = entry.width;
    ASSERT_EQ(Dword(image, 0), 40u);
    ASSERT_EQ(static_cast<int>(Dword(image, 4)), size);
    ASSERT_EQ(static_cast<int>(Dword(image, 8)), 2 * size);  // colour image and mask
    ASSERT_EQ(Word(image, 14), 32);
    ASSERT_EQ(Dword(image, 16), static_cast<std::uint32_t>(BI_RGB));
    const std::size_t mask_stride = ((size + 31) / 32) * 4;
    const std::size_t pixels = 40;
    const std::size_t mask = pixels + 4u * size * size;
    ASSERT_EQ(image.size(), mask + mask_stride * size);

    auto alpha = [&](int x, int row) { return image[pixels + 4u * (row * size + x) + 3]; };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(size - 1, size - 1), 0);
    EXPECT_EQ(alpha(size / 2, size / 2), 255);
    int partial = 0;
    int mismatched = 0;
    for (int row = 0; row < size; ++row) {
      for (int x = 0; x < size; ++x) {
        const auto a = alpha(x, row);
        if (a != 0 && a != 255) ++partial;
        const bool masked = (image[mask + row * mask_stride + x / 8] & (0x80 >> (x % 8))) != 0;
        if (masked != (a == 0)) ++mismatched;
      }
    }
    EXPECT_GT(partial, size / 2) << "edges are not anti-aliased";
    EXPECT_EQ(mismatched, 0);
  }
}

TEST_F(LauncherResources, IconLoaderGivesEverySizeAndTheWindowClassIcon) {
  for (int size : kIconSizes) {
    SCOPED_TRACE(size);
    OwnedIcon icon(static_cast<HICON>(::LoadImageW(module(), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0)));
    ASSERT_NE(icon.get(), nullptr) << "error " << ::GetLastError();
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon.get(), &info));
    OwnedBitmap colour(info.hbmColor);
    OwnedBitmap mask(info.hbmMask);
    BITMAP bitmap{};
    ASSERT_NE(colour.get(), nullptr);
    ASSERT_NE(::GetObjectW(colour.get(), sizeof bitmap, &bitmap), 0);
    EXPECT_EQ(bitmap.bmWidth, size);
    EXPECT_EQ(bitmap.bmHeight, size);
  }
  // The progress window's class loads the icon like this; a shared icon is not destroyed.
  EXPECT_NE(::LoadIconW(module(), MAKEINTRESOURCEW(1)), nullptr);
}

TEST(LauncherVersion, NamesQuillwaveLauncherWithTheProjectVersion) {
  const std::wstring path = LauncherPath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource, error " << ::GetLastError();
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof *fixed);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const DWORD most = MAKELONG(QUILLWAVE_VERSION_MINOR, QUILLWAVE_VERSION_MAJOR);
  const DWORD least = MAKELONG(0, QUILLWAVE_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileVersionMS, most);
  EXPECT_EQ(fixed->dwFileVersionLS, least);
  EXPECT_EQ(fixed->dwProductVersionMS, most);
  EXPECT_EQ(fixed->dwProductVersionLS, least);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask & VS_FF_DEBUG, 0u);

  // Explorer picks the string table through the translation list.
  WORD* translation = nullptr;
  ASSERT_TRUE(
      ::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_GE(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);

  const std::wstring version = quillwave::Widen(quillwave::kLauncherVersion);
  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } kStrings[] = {
      {L"FileVersion", version.c_str()},
      {L"ProductVersion", version.c_str()},
      {L"FileDescription", L"Quillwave launcher"},
      {L"ProductName", L"Quillwave"},
      {L"CompanyName", L"Quillwave"},
      {L"InternalName", L"quillwave-launcher.exe"},
      {L"OriginalFilename", L"quillwave-launcher.exe"},
  };
  for (const auto& expected : kStrings) {
    SCOPED_TRACE(expected.name);
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + expected.name;
    wchar_t* value = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        << "missing value";
    EXPECT_STREQ(value, expected.value);
  }
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
  return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

// A toolchain's default manifest next to ours would leave the loader to pick one.
TEST_F(LauncherResources, HasExactlyOneManifest) {
  std::vector<ULONG_PTR> names;
  ::EnumResourceNamesW(module(), RT_MANIFEST, CollectName, reinterpret_cast<LONG_PTR>(&names));
  ASSERT_EQ(names, std::vector<ULONG_PTR>{1});
  std::vector<WORD> languages;
  ::EnumResourceLanguagesW(module(), RT_MANIFEST, MAKEINTRESOURCEW(1), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages.size(), 1u);
}

// Layout of ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION, which MinGW's headers lack.
struct RunLevelInformation {
  DWORD flags;
  ACTCTX_REQUESTED_RUN_LEVEL run_level;
  DWORD ui_access;
};

using QueryActCtxSettingsWFunction = BOOL(WINAPI*)(DWORD, HANDLE, PCWSTR, PCWSTR, PWSTR, SIZE_T, SIZE_T*);

// The system's own manifest parser must accept the manifest (a broken one stops
// the program from starting at all) and find asInvoker and per-monitor (v2)
// DPI awareness, with the older spelling for systems before Windows 10 1607.
TEST(LauncherManifest, ActivationContextRunsAsInvokerPerMonitorDpiAware) {
  const std::wstring path = LauncherPath();
  ACTCTXW request{};
  request.cbSize = sizeof request;
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = path.c_str();
  request.lpResourceName = MAKEINTRESOURCEW(1);
  ActivationContext context(::CreateActCtxW(&request));
  ASSERT_TRUE(context.valid()) << "manifest rejected, error " << ::GetLastError();

  RunLevelInformation run_level{};
  SIZE_T written = 0;
  ASSERT_TRUE(::QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext, &run_level,
                             sizeof run_level, &written));
  EXPECT_EQ(run_level.run_level, ACTCTX_RUN_LEVEL_AS_INVOKER);
  EXPECT_EQ(run_level.ui_access, 0u);

  const auto query_settings = reinterpret_cast<QueryActCtxSettingsWFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryActCtxSettingsW")));
  ASSERT_NE(query_settings, nullptr);
  const struct {
    const wchar_t* settings_namespace;
    const wchar_t* name;
    const wchar_t* value;
  } kDpiSettings[] = {
      {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm"},
      {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, PerMonitor"},
  };
  for (const auto& setting : kDpiSettings) {
    SCOPED_TRACE(setting.name);
    wchar_t value[64] = {};
    written = 0;
    ASSERT_TRUE(query_settings(0, context.get(), setting.settings_namespace, setting.name, value, 64, &written))
        << "error " << ::GetLastError();
    EXPECT_EQ(std::wstring(value), setting.value);
  }
}

}  // namespace
