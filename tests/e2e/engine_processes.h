// Finding, ending and reaping a detached engine. The launcher starts the
// engine in a session of its own and leaves; a test that made itself the
// subreaper inherits the engine (and its helpers, when their parent goes)
// and can reap every one of them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace quillwave::test {

// Orphaned descendants of this process become its children from now on.
bool BecomeSubreaper();

// A process's arguments as /proc shows them (empty once it has gone).
std::vector<std::string> ProcessArguments(pid_t pid);

// The processes whose first argument is `program`.
std::vector<pid_t> ProcessesRunning(const std::string& program);

// The sessions, other than this process's own, of the processes whose
// arguments contain `marker` (a test's unique folder).
std::set<pid_t> SessionsMentioning(const std::string& marker);

// Waits until no process of the sessions is left, reaping those that are
// this process's children; with `kill`, sends SIGKILL to each first. True
// when all had gone before the limit.
bool EndSessions(const std::set<pid_t>& sessions, bool kill, std::chrono::milliseconds limit);

}  // namespace quillwave::test
