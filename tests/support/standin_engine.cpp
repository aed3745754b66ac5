// A stand-in for the browser engine: prints the arguments it received and
// records them beside itself in "engine-run.txt" (each argument followed by
// a NUL byte; on Windows the raw command line first, in "engine-cmdline.txt").
// On Linux it also records its open descriptors in "engine-fds.txt", one
// line each: the number, a blank and what it refers to.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

#include "platform/encoding.h"
#ifndef _WIN32
#include "tests/support/posix/open_descriptors.h"
#endif

namespace {

std::filesystem::path OwnDirectory() {
#ifdef _WIN32
  wchar_t buffer[32768] = {};
  ::GetModuleFileNameW(nullptr, buffer, 32768);
  return std::filesystem::path(buffer).parent_path();
#else
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

// Written under a temporary name of this process and renamed, so a reader
// sees all or nothing, also when several engines start from one folder.
void WriteRecord(const std::filesystem::path& path, const std::string& content) {
#ifdef _WIN32
  const unsigned long process = ::GetCurrentProcessId();
#else
  const long process = ::getpid();
#endif
  auto temporary = path;
  temporary += "." + std::to_string(process) + ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::filesystem::rename(temporary, path);
}

}  // namespace

#ifdef _WIN32
int wmain() {
  int count = 0;
  wchar_t** parts = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(quillwave::platform::WideToUtf8(parts[i]));
  ::LocalFree(parts);
  const std::string raw = quillwave::platform::WideToUtf8(::GetCommandLineW());
#else
int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
#endif
  const auto directory = OwnDirectory();
  std::string record;
  std::printf("quillwave-engine (stand-in) received %zu arguments:\n", arguments.size());
  for (const auto& argument : arguments) {
    std::printf("  %s\n", argument.c_str());
    record += argument;
    record += '\0';
  }
  std::fflush(stdout);
#ifdef _WIN32
  WriteRecord(directory / "engine-cmdline.txt", raw);
#else
  WriteRecord(directory / "engine-fds.txt", quillwave::test::OpenDescriptors());
#endif
  WriteRecord(directory / "engine-run.txt", record);
  return 0;
}
