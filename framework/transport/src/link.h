// One connection attempt, shared between the user-interface thread and its
// worker thread. The worker owns the descriptor and closes it when it ends;
// the UI thread only shuts it down, so a descriptor number is never reused
// while a worker may still select on it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/types.h"
#include "transport/socket_connection.h"

namespace olvaro::net {

struct Link {
  // The worker makes a socket for each address it tries; the UI thread
  // reads it only once connected. `fdLock` keeps a shutdown from the UI
  // thread off a descriptor the worker is closing.
  std::mutex fdLock;
  int fd = -1;
  std::string host;
  int port = 0;
  HWND sink = nullptr;
  std::atomic<bool> abandoned{false};
  // UI thread only: the connection this link still belongs to.
  SocketConnection* owner = nullptr;
  // A network check's connection-manager link. The worker sets it before
  // reporting; the UI thread takes it over while handling the report
  // (SendMessage orders the two), else the worker gives it back.
  HANDLE connMgr = nullptr;
  bool connMgrTaken = false;
};

// Ends the link from the UI thread: the peer sees the close at once, and a
// worker blocked in connect or select wakes up.
void abandonLink(Link& link);

struct SinkDispatch {
  static LRESULT handle(UINT msg, Link* link);
};

}  // namespace olvaro::net
