// For the tests of quillwave-geo: its test database, a run of the program
// whose standard error the test reads, and plain HTTP exchanges on loopback.
// Every child is bounded in time and reaped; every socket has a time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/unique_fd.h"

namespace quillwave::test {

// Writes the test database (tests/geo/write_test_database.pl) to `path`:
// "first" or "second" variant. False, with the reason in `error`, when perl
// or its MaxMind writer is missing.
bool WriteTestDatabase(const std::filesystem::path& path, const std::string& variant, std::string& error);

// quillwave-geo (or any program) with its standard error read by the test;
// killed and reaped when the object goes.
class GeoServerProcess {
 public:
  GeoServerProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments);
  ~GeoServerProcess();
  GeoServerProcess(const GeoServerProcess&) = delete;
  GeoServerProcess& operator=(const GeoServerProcess&) = delete;

  // The first line not yet waited for that contains `text`, once it is
  // written; empty when none came within the limit. Lines before it are
  // passed over.
  std::string WaitForLine(std::string_view text, std::chrono::milliseconds limit);
  void Signal(int number);
  // The exit code once it has ended within the limit, else -1.
  int WaitForExit(std::chrono::milliseconds limit);
  const std::string& output() const { return output_; }  // standard output and error, as written

 private:
  bool ReadSome(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  platform::UniqueFd errors_;
  std::string output_;
  std::size_t consumed_ = 0;
};

// The port in a start line ("... listening on 127.0.0.1:43125; ..."), or 0.
int ListeningPort(const std::string& line);

// A connection to `address`:`port` (127.0.0.1 or ::1), from the loopback
// address `from` when one is given; each send and receive gives up after 10 s.
platform::UniqueFd ConnectTo(const std::string& address, int port, const std::string& from = "");

// Sends `request` to `address`:`port` and returns all the server sent until
// it closed the connection; empty on failure.
std::string HttpExchange(const std::string& address, int port, std::string_view request, const std::string& from = "");

// The status code and the body of an HTTP response.
struct HttpAnswer {
  int status = 0;
  std::string head;
  std::string body;
};
HttpAnswer ParseHttpAnswer(const std::string& response);

}  // namespace quillwave::test
