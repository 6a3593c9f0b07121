// Real servers for tests over sockets on 127.0.0.1 (Linux): free ports, a
// program started on one and stopped with its object, and the proxies the tests
// talk to (tinyproxy, microsocks, dante) in a temporary folder of their own.
// Test code only; header only, so that the Windows test program never builds it.
#pragma once

#if !defined(_WIN32)

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace core::test_servers {

// A listening socket on a free port of 127.0.0.1 (the port in *port), or -1.
inline int Listener(uint16_t* port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(s, 64) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    if (s >= 0) close(s);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return s;
}

inline uint16_t FreePort() {
  uint16_t port = 0;
  int s = Listener(&port);
  if (s >= 0) close(s);
  return port;
}

// A connected socket to 127.0.0.1:port, or -1.
inline int ConnectTo(uint16_t port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    close(s);
    return -1;
  }
  return s;
}

inline bool Accepts(uint16_t port) {
  int s = ConnectTo(port);
  if (s >= 0) close(s);
  return s >= 0;
}

inline bool Have(const char* program) {
  return system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// A program started on `port`, up once the port accepts; stopped with the object.
class Spawned {
 public:
  Spawned(std::vector<std::string> args, uint16_t port) : port_(port) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, argv[0], &quiet, nullptr, argv.data(), environ) != 0) pid_ = 0;
    posix_spawn_file_actions_destroy(&quiet);
    for (int i = 0; pid_ != 0 && i < 250 && !up_; ++i) {
      up_ = Accepts(port_);
      if (!up_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Spawned() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool up() const { return up_; }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = 0;
  uint16_t port_;
  bool up_ = false;
};

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/relaymoth-test-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Write(const std::string& file, const std::string& text) const {
    std::string p = path_ + "/" + file;
    std::ofstream(p) << text;
    return p;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline Spawned Tinyproxy(const TempDir& dir, const std::string& name, const std::string& extra) {
  uint16_t port = FreePort();
  std::string conf = dir.Write(name + ".conf", "Port " + std::to_string(port) +
                                                   "\nListen 127.0.0.1\nTimeout 30\nLogLevel "
                                                   "Critical\nAllow 127.0.0.1\n" +
                                                   extra);
  return Spawned({"tinyproxy", "-d", "-c", conf}, port);
}

inline Spawned Microsocks(std::vector<std::string> extra = {}) {
  uint16_t port = FreePort();
  std::vector<std::string> args = {"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)};
  args.insert(args.end(), extra.begin(), extra.end());
  return Spawned(args, port);
}

// `external`: the address its connections to targets come from.
inline Spawned Dante(const TempDir& dir, const std::string& external = "127.0.0.1") {
  uint16_t port = FreePort();
  std::string conf = dir.Write(
      "danted.conf", "logoutput: /dev/null\ninternal: 127.0.0.1 port = " + std::to_string(port) +
                         "\nexternal: " + external +
                         "\nclientmethod: none\nsocksmethod: none\n"
                         "user.privileged: root\nuser.unprivileged: nobody\n"
                         "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                         "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n");
  return Spawned({"danted", "-f", conf, "-N", "1"}, port);
}

// One port that speaks HTTP and SOCKS, as local mixed proxies do: each
// connection goes to the SOCKS server when its first byte is a SOCKS version
// (4 or 5), else to the HTTP proxy, and is then copied both ways.
class MixedPort {
 public:
  MixedPort(uint16_t http_port, uint16_t socks_port) : http_(http_port), socks_(socks_port) {
    listener_ = Listener(&port_);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int c = accept(listener_, nullptr, nullptr);
        if (c >= 0) workers_.emplace_back([this, c] { Splice(c); });
      }
    });
  }
  ~MixedPort() {
    stop_ = true;
    thread_.join();
    for (std::thread& t : workers_) t.join();
    close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  void Splice(int client) {
    char b[16384];
    ssize_t n = recv(client, b, sizeof(b), 0);
    int server = n > 0 ? ConnectTo(b[0] == 4 || b[0] == 5 ? socks_ : http_) : -1;
    if (server >= 0 && send(server, b, size_t(n), MSG_NOSIGNAL) == n) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      while (!stop_ && poll(p, 2, 50) >= 0) {
        bool over = false;
        for (int i = 0; i < 2 && !over; ++i) {
          if (!p[i].revents) continue;
          n = recv(p[i].fd, b, sizeof(b), 0);
          over = n <= 0 || send(p[1 - i].fd, b, size_t(n), MSG_NOSIGNAL) != n;
        }
        if (over) break;
      }
    }
    if (server >= 0) close(server);
    close(client);
  }

  uint16_t http_, socks_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::thread> workers_;
};

}  // namespace core::test_servers

#endif  // !_WIN32
