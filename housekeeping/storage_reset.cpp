#include "housekeeping/storage_reset.h"

#include <string_view>
#include <vector>

#include "platform/files.h"

namespace quillwave {
namespace {

enum class Base { kUserData, kProfile };

struct Target {
  Base base;
  std::wstring_view first;
  std::wstring_view second = {};  // a second path component, or empty
};

struct Category {
  std::string_view name;
  platform::RemoveKind kind;  // of every target
  Target targets[4];          // unused slots have an empty name
};

constexpr Base P = Base::kProfile;
constexpr Base U = Base::kUserData;
constexpr platform::RemoveKind kFiles = platform::RemoveKind::kFile;
constexpr platform::RemoveKind kFolder = platform::RemoveKind::kTree;

// In processing order. "cache_storage" lies inside the service-worker folder,
// so it is handled on its own only while that folder stays.
constexpr Category kCategories[] = {
    {"cookies",
     kFiles,
     {{P, L"Cookies"}, {P, L"Cookies-journal"}, {P, L"Network", L"Cookies"}, {P, L"Network", L"Cookies-journal"}}},
    {"file_systems", kFolder, {{P, L"File System"}}},
    {"indexeddb", kFolder, {{P, L"IndexedDB"}}},
    {"local_storage", kFolder, {{P, L"Local Storage"}}},
    {"shader_cache", kFolder, {{U, L"ShaderCache"}, {U, L"GraphiteDawnCache"}, {P, L"GPUCache"}}},
    {"websql", kFolder, {{P, L"databases"}}},
    {"service_workers", kFolder, {{P, L"Service Worker"}}},
    {"cache_storage", kFolder, {{P, L"Service Worker", L"CacheStorage"}}},
    {"interest_groups", kFolder, {{P, L"InterestGroups"}}},
    {"shared_storage", kFiles, {{P, L"Shared Storage"}, {P, L"Shared Storage-journal"}}},
    {"storage_buckets", kFolder, {{P, L"StorageBuckets"}}},
};

bool Selected(const StorageResetSelection& selection, std::string_view name) {
  const auto it = selection.find(std::string(name));
  return it != selection.end() && it->second;
}

}  // namespace

std::vector<std::string_view> StorageKinds() {
  std::vector<std::string_view> kinds{"all"};
  for (const Category& category : kCategories) kinds.push_back(category.name);
  return kinds;
}

KeptEntries ResetProfileStorage(const std::wstring& user_data_dir, const StorageResetSelection& selection) {
  KeptEntries result;
  if (user_data_dir.empty() || selection.empty()) return result;
  const bool all = Selected(selection, "all");
  bool any = all;
  for (const auto& [name, on] : selection) any = any || on;
  if (!any) return result;

  for (const Category& category : kCategories) {
    bool process = all || Selected(selection, category.name);
    if (category.name == "cache_storage") {
      process = !all && !Selected(selection, "service_workers") && Selected(selection, category.name);
    }
    if (!process) continue;
    for (const Target& target : category.targets) {
      if (target.first.empty()) break;
      std::vector<std::wstring_view> components;
      if (target.base == Base::kProfile) components.push_back(L"Default");
      components.push_back(target.first);
      if (!target.second.empty()) components.push_back(target.second);
      // Each target is tried on its own: one that stays never stops the rest.
      AddKept(result, platform::RemoveBelow(user_data_dir, components, category.kind));
    }
  }
  return result;
}

}  // namespace quillwave
