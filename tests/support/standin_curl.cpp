// A stand-in for curl, scripted through files beside it:
//   curl-answer.txt  printed to standard output as it is (none: nothing)
//   curl-stderr.txt  printed to standard error afterwards (none: nothing)
//   curl-exit.txt    the exit code (none: 0); on Linux "signal N" raises signal N
//   curl-delay-ms.txt  how long to take before answering, like a slow proxy
//   curl-linger-ms.txt  how long to stay after answering, its output closed
//   curl-direct.txt  answered with exit 0 instead when real curl would go
//                    around the proxy: NO_PROXY or no_proxy set and not
//                    overridden by the arguments --noproxy "", or a .curlrc
//                    in CURL_HOME read because -q is not the first argument
// It records what it received beside itself: "curl-args.txt" (each argument
// followed by a NUL byte, its own name first); all of its standard input in
// "curl-config.txt" when told `--config -`, as curl reads it then (else it
// reads none of it); its process id in "curl-pid.txt"; on Windows the raw
// command line in "curl-cmdline.txt"; on Linux "curl-fds.txt", one line per
// open descriptor with what it refers to.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include "platform/encoding.h"
#ifndef _WIN32
#include "tests/support/posix/open_descriptors.h"
#endif

namespace {

namespace fs = std::filesystem;

fs::path OwnDirectory() {
#ifdef _WIN32
  wchar_t buffer[32768] = {};
  ::GetModuleFileNameW(nullptr, buffer, 32768);
  return fs::path(buffer).parent_path();
#else
  return fs::read_symlink("/proc/self/exe").parent_path();
#endif
}

bool ReadFile(const fs::path& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  content = text.str();
  return true;
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

}  // namespace

#ifdef _WIN32
int wmain() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  int count = 0;
  wchar_t** parts = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(quillwave::platform::WideToUtf8(parts[i]));
  ::LocalFree(parts);
  const fs::path directory = OwnDirectory();
  WriteFile(directory / "curl-cmdline.txt", quillwave::platform::WideToUtf8(::GetCommandLineW()));
  WriteFile(directory / "curl-pid.txt", std::to_string(::GetCurrentProcessId()));
#else
int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  const fs::path directory = OwnDirectory();
  WriteFile(directory / "curl-fds.txt", quillwave::test::OpenDescriptors());
  WriteFile(directory / "curl-pid.txt", std::to_string(::getpid()));
#endif
  std::string record;
  for (const auto& argument : arguments) record += argument + '\0';
  WriteFile(directory / "curl-args.txt", record);
  bool noproxy_cleared = false;
  for (std::size_t i = 1; i + 1 < arguments.size(); ++i) {
    noproxy_cleared = noproxy_cleared || (arguments[i] == "--noproxy" && arguments[i + 1].empty());
    if (arguments[i] != "--config" || arguments[i + 1] != "-") continue;
    std::ostringstream config;
    config << std::cin.rdbuf();
    WriteFile(directory / "curl-config.txt", config.str());
  }

  std::string text;
  const char* no_proxy = std::getenv("NO_PROXY");
  if (no_proxy == nullptr) no_proxy = std::getenv("no_proxy");
  const char* curl_home = std::getenv("CURL_HOME");
  const bool reads_curlrc = (arguments.size() < 2 || arguments[1] != "-q") && curl_home != nullptr &&
                            fs::exists(fs::path(curl_home) / ".curlrc");
  if (((no_proxy != nullptr && *no_proxy != '\0' && !noproxy_cleared) || reads_curlrc) &&
      ReadFile(directory / "curl-direct.txt", text)) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    WriteFile(directory / "curl-done.txt", "");
    return 0;
  }
  if (ReadFile(directory / "curl-delay-ms.txt", text)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(text.c_str())));
  }
  if (ReadFile(directory / "curl-answer.txt", text)) std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  if (ReadFile(directory / "curl-stderr.txt", text)) std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  if (ReadFile(directory / "curl-linger-ms.txt", text)) {
#ifdef _WIN32
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
    ::CloseHandle(output);
    if (error != output) ::CloseHandle(error);
#else
    ::close(1);
    ::close(2);
#endif
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(text.c_str())));
  }

  std::string exit_text;
  const bool scripted_exit = ReadFile(directory / "curl-exit.txt", exit_text);
  WriteFile(directory / "curl-done.txt", "");
  if (!scripted_exit) return 0;
#ifndef _WIN32
  if (exit_text.starts_with("signal ")) ::raise(std::atoi(exit_text.c_str() + 7));
#endif
  return std::atoi(exit_text.c_str());
}
