// Requests that wait for the server's "RESPONSE", keyed by their Mesg-Id.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "olvaro/connection_calls.h"
#include "olvaro/fwk.h"

namespace olvaro::conn {

using olvaro::AcceptContactRequest;
using olvaro::AddContactRequest;
using olvaro::AdminContactRequest;
using olvaro::GroupCreateRequest;
using olvaro::GroupJoinRequest;
using olvaro::HistoryRequest;
using olvaro::IdentityRequest;
using olvaro::Response;
using olvaro::ResponseCallback;


class PendingRequest {
 public:
  explicit PendingRequest(uint64_t id) : id_(id) {}
  virtual ~PendingRequest() = default;
  // True when the request is finished; false keeps it waiting.
  virtual bool onResponse(int64_t code, const std::string& text) = 0;
  uint64_t id() const { return id_; }

 private:
  uint64_t id_;
};


// Hands any answer to a caller's callback and is done.
class CallbackPendingRequest : public PendingRequest {
 public:
  CallbackPendingRequest(uint64_t id, ResponseCallback callback, void* context)
      : PendingRequest(id), callback_(callback), context_(context) {}
  bool onResponse(int64_t code, const std::string& text) override;

 private:
  ResponseCallback callback_;
  void* context_;
};

class PendingRequests {
 public:
  // Replaces (without answering) any request waiting under the same id.
  void add(fwk::counted_ptr<PendingRequest> request);
  // Finishes or keeps the request named by id; false when none waits.
  bool answer(uint64_t id, int64_t code, const std::string& text);
  // The link ended: every request hears code 100 once, then the table is empty.
  void failAll();
  size_t size() const { return table_.size(); }
  bool contains(uint64_t id) const { return table_.count(id) != 0; }

 private:
  std::map<uint64_t, fwk::counted_ptr<PendingRequest>> table_;
};

// Decodes a "RESPONSE" body: type 1 carries text and code 0; otherwise a 4-
// or 8-byte big-endian number whose low 32 bits are sign-extended.
int64_t responseCode(int32_t type, const std::string& body);

}  // namespace olvaro::conn
