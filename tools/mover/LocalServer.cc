#include "tools/mover/LocalServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace mover {
namespace {

constexpr int kStartPolls = 2400;  // 120 seconds: moto_server starts slowly on a busy machine
constexpr auto kStartPoll = std::chrono::milliseconds(50);

sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A port that nothing listens on right now.
int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  close(fd);
  return bound ? ntohs(address.sin_port) : -1;
}

bool answers(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = loopback(static_cast<uint16_t>(port));
  const bool connected =
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

bool LocalServer::start(std::string& error) {
  const int port = freePort();
  if (port < 0) {
    error = "cannot find a free port for moto_server";
    return false;
  }
  const std::string portText = std::to_string(port);
  const char* argv[] = {"moto_server", "-H", "127.0.0.1", "-p", portText.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "moto_server", &actions, nullptr,
                                   const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    error = std::string("cannot start moto_server (") + std::strerror(spawned) +
            "): run scripts/install-deps.sh, or give --endpoint-url";
    return false;
  }
  for (int poll = 0; poll < kStartPolls; ++poll) {
    if (answers(port)) {
      url_ = "http://127.0.0.1:" + portText;
      return true;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "moto_server exited at start: run scripts/install-deps.sh, or give --endpoint-url";
      return false;
    }
    std::this_thread::sleep_for(kStartPoll);
  }
  error = "moto_server does not answer on port " + portText + " within 120 seconds";
  return false;
}

LocalServer::~LocalServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace mover
