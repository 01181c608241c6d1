#include "broadcast_relay.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace platform::win {
namespace {

// One datagram socket per process in the configuration folder; a datagram is
// "<wParam> <lParam> <message name in UTF-8>". Message ids are private to a
// process, names are not.
constexpr size_t kMaxDatagram = 512;

std::string relayFolder() { return platform::configFolder() + "/broadcast"; }

bool fillAddress(const std::string& path, sockaddr_un* addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::mutex g_listenersLock;
std::vector<std::string> g_ownPaths;  // one per configuration folder listened in

void removeOwnSockets() {
  std::lock_guard<std::mutex> g(g_listenersLock);
  for (const std::string& path : g_ownPaths) unlink(path.c_str());
}

void listen(int fd) {
  char buffer[kMaxDatagram + 1];
  for (;;) {
    ssize_t n = recv(fd, buffer, kMaxDatagram, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    buffer[n] = '\0';
    long long wParam = 0, lParam = 0;
    int consumed = 0;
    if (sscanf(buffer, "%lld %lld %n", &wParam, &lParam, &consumed) < 2 || consumed <= 0 || consumed >= n) continue;
    std::u16string name;
    if (!platform::utf8ToUtf16(std::string_view(buffer + consumed, size_t(n - consumed)), &name)) continue;
    UINT msg = RegisterWindowMessage(name.c_str());
    if (msg) postLocalBroadcast(msg, WPARAM(wParam), LPARAM(lParam));
  }
}

}  // namespace

void startBroadcastListener() {
  std::string folder = relayFolder();
  std::string path = folder + "/" + std::to_string(getpid()) + ".sock";
  std::lock_guard<std::mutex> g(g_listenersLock);
  for (const std::string& own : g_ownPaths)
    if (own == path) return;
  mkdir(platform::configFolder().c_str(), 0700);
  mkdir(folder.c_str(), 0700);
  sockaddr_un addr;
  if (!fillAddress(path, &addr)) return;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  unlink(path.c_str());  // left behind by an earlier process with this pid
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return;
  }
  chmod(path.c_str(), 0600);
  if (g_ownPaths.empty()) atexit(removeOwnSockets);
  g_ownPaths.push_back(path);
  std::thread(listen, fd).detach();
}

void relayBroadcast(const std::u16string& name, WPARAM wParam, LPARAM lParam) {
  std::string text = std::to_string(static_cast<long long>(wParam)) + " " +
                     std::to_string(static_cast<long long>(lParam)) + " " + platform::narrow(name);
  if (text.size() > kMaxDatagram) return;
  std::string folder = relayFolder();
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    std::string own = std::to_string(getpid()) + ".sock";
    while (dirent* e = readdir(dir)) {
      std::string entry = e->d_name;
      if (entry == own || entry.size() < 6 || entry.compare(entry.size() - 5, 5, ".sock") != 0) continue;
      std::string path = folder + "/" + entry;
      sockaddr_un addr;
      if (!fillAddress(path, &addr)) continue;
      if (sendto(fd, text.data(), text.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 &&
          errno == ECONNREFUSED)
        unlink(path.c_str());  // its process is gone
    }
    close(fd);
  }
  closedir(dir);
}

}  // namespace platform::win
