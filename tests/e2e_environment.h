#pragma once

// The surroundings of the end-to-end tests: a private state folder and log file per test process,
// a server started in this process on a port the system picks, and the path of the built server
// binary.

#include <memory>
#include <string>
#include <vector>

#include "platform/base/unique_fd.h"
#include "server/tcp_server.h"

namespace tests {

// StateRoot is the QUILMAREND_HOME of this test process (a fresh temporary folder).
const std::string& StateRoot();

// LogText returns what the server log has written so far.
std::string LogText();

// ServerBinary is the path of the built quilmarend executable.
const char* ServerBinary();

// StartServer starts a TCPServer on a port the system picks, with `workers` workers and `setup`.
std::unique_ptr<server::TCPServer> StartServer(int workers = 100,
                                               const server::ServerSetup& setup = {});

// CountThreads returns the number of threads of this process.
int CountThreads();

// RunServerBinary starts the server executable `binary` with the switches `arguments` on `port`,
// with its standard error in `errorFile`, the state root `home` and the locale `locale` (LC_ALL);
// returns its pid. The rest of the environment is this process's.
int RunServerBinary(const std::string& binary, int port, const std::string& errorFile,
                    const std::string& home, const char* locale = "C",
                    const std::vector<std::string>& arguments = {});

// WaitForListening waits until the server whose log goes to `errorFile` has written where it
// listens for the `nth` time (up to 10 s) and returns that port; 0 when it has not. A server
// started on port 0 listens on a port the system picks.
int WaitForListening(const std::string& errorFile, int nth = 1);

// RefusingSocket returns a socket bound to a port of 127.0.0.1 that the system picks, without
// listening: connections to that port are refused, and nobody else can take it while it is open.
platform::UniqueFd RefusingSocket();

// ReadFile returns the bytes of `path`, empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace tests
