#include "housekeeping/storage_reset.h"

#include <string_view>

#include "housekeeping/previous_tabs.h"
#include "platform/files.h"

namespace quillwave {
namespace {

enum class Base { kUserData, kProfile };
enum class Kind { kFiles, kFolder };

struct Target {
  Base base;
  std::wstring_view first;
  std::wstring_view second = {};  // a second path component, or empty
};

struct Category {
  std::string_view name;
  Kind kind;
  Target targets[4];  // unused slots have an empty name
};

constexpr Base P = Base::kProfile;
constexpr Base U = Base::kUserData;

// In processing order. "cache_storage" lies inside the service-worker folder,
// so it is handled on its own only while that folder stays.
constexpr Category kCategories[] = {
    {"cookies",
     Kind::kFiles,
     {{P, L"Cookies"}, {P, L"Cookies-journal"}, {P, L"Network", L"Cookies"}, {P, L"Network", L"Cookies-journal"}}},
    {"file_systems", Kind::kFolder, {{P, L"File System"}}},
    {"indexeddb", Kind::kFolder, {{P, L"IndexedDB"}}},
    {"local_storage", Kind::kFolder, {{P, L"Local Storage"}}},
    {"shader_cache", Kind::kFolder, {{U, L"ShaderCache"}, {U, L"GraphiteDawnCache"}, {P, L"GPUCache"}}},
    {"websql", Kind::kFolder, {{P, L"databases"}}},
    {"service_workers", Kind::kFolder, {{P, L"Service Worker"}}},
    {"cache_storage", Kind::kFolder, {{P, L"Service Worker", L"CacheStorage"}}},
    {"interest_groups", Kind::kFolder, {{P, L"InterestGroups"}}},
    {"shared_storage", Kind::kFiles, {{P, L"Shared Storage"}, {P, L"Shared Storage-journal"}}},
    {"storage_buckets", Kind::kFolder, {{P, L"StorageBuckets"}}},
};

bool Selected(const StorageResetSelection& selection, std::string_view name) {
  const auto it = selection.find(std::string(name));
  return it != selection.end() && it->second;
}

}  // namespace

void ResetProfileStorage(const std::wstring& user_data_dir, const StorageResetSelection& selection) {
  if (user_data_dir.empty() || selection.empty()) return;
  const bool all = Selected(selection, "all");
  bool any = all;
  for (const auto& [name, on] : selection) any = any || on;
  if (!any) return;

  const std::wstring profile = user_data_dir + platform::kPathSeparator + L"Default";
  for (const Category& category : kCategories) {
    bool process = all || Selected(selection, category.name);
    if (category.name == "cache_storage") {
      process = !all && !Selected(selection, "service_workers") && Selected(selection, category.name);
    }
    if (!process) continue;
    for (const Target& target : category.targets) {
      if (target.first.empty()) break;
      std::wstring path = (target.base == Base::kProfile ? profile : user_data_dir) + platform::kPathSeparator;
      path += target.first;
      if (!target.second.empty()) {
        path += platform::kPathSeparator;
        path += target.second;
      }
      // Each target is tried on its own: one that stays never stops the rest.
      if (category.kind == Kind::kFiles) {
        platform::DeleteFileOnly(path);
      } else {
        DeleteDirectoryTree(path);
      }
    }
  }
}

}  // namespace quillwave
