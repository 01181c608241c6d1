#include "transfers.h"

namespace olvaro::conn {
namespace {
OutgoingTransfers* g_transfers = nullptr;
}

OutgoingTransfers* OutgoingTransfers::instance() { return g_transfers; }

void OutgoingTransfers::attach(Session& session) {
  detach();
  g_transfers = new OutgoingTransfers(session);
}

void OutgoingTransfers::detach() {
  delete g_transfers;
  g_transfers = nullptr;
}

OutgoingTransfers::OutgoingTransfers(Session& session) : session_(session) {}
OutgoingTransfers::~OutgoingTransfers() = default;

}  // namespace olvaro::conn
