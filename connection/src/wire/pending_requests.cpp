#include "pending_requests.h"

#include <vector>

namespace olvaro::conn {

bool CallbackPendingRequest::onResponse(int64_t code, const std::string& text) {
  Response response{code, text.c_str()};
  if (callback_) callback_(context_, &response);
  return true;
}

void PendingRequests::add(fwk::counted_ptr<PendingRequest> request) {
  if (!request) return;
  uint64_t id = request->id();
  table_[id] = std::move(request);
}

bool PendingRequests::answer(uint64_t id, int64_t code, const std::string& text) {
  auto it = table_.find(id);
  if (it == table_.end()) return false;
  fwk::counted_ptr<PendingRequest> request = it->second;
  table_.erase(it);
  if (!request->onResponse(code, text)) {
    // Keep waiting, unless a newer request took the id meanwhile.
    table_.emplace(id, request);
  }
  return true;
}

void PendingRequests::failAll() {
  // Taken out first: a request's answer may register new ones or close again.
  std::map<uint64_t, fwk::counted_ptr<PendingRequest>> waiting;
  waiting.swap(table_);
  for (auto& [id, request] : waiting) request->onResponse(kResponseLost, std::string());
}

int64_t responseCode(int32_t type, const std::string& body) {
  if (type == 1) return 0;
  const auto* b = reinterpret_cast<const unsigned char*>(body.data());
  uint32_t low = 0;
  if (body.size() == 4)
    low = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  else if (body.size() == 8)
    low = uint32_t(b[4]) << 24 | uint32_t(b[5]) << 16 | uint32_t(b[6]) << 8 | b[7];
  return int64_t(int32_t(low));
}

}  // namespace olvaro::conn
