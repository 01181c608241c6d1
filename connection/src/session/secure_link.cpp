// The encrypted link to a "tls:" server entry: started right after the
// connect (or once the proxy's tunnel is open), verified before the first
// packet goes out, and, when it fails, refused like a proxy refusal: a box
// saying why and no reconnect, never a fall-back to plain.
#include "alerts.h"
#include "server_list.h"
#include "session.h"
#include "texts.h"

namespace olvaro::conn {

namespace {

std::string settingText(const char* name) {
  char buffer[512] = {};
  KS_GetSettingString(name, "", buffer, sizeof buffer);
  return buffer;
}

unsigned failureText(net::TlsFailure failure) {
  switch (failure) {
    case net::TlsFailure::kUntrusted: return kStrTlsUntrusted;
    case net::TlsFailure::kNameMismatch: return kStrTlsNameMismatch;
    case net::TlsFailure::kExpired: return kStrTlsExpired;
    case net::TlsFailure::kPinMismatch: return kStrTlsPinMismatch;
    case net::TlsFailure::kSetup: return kStrTlsSetup;
    default: return kStrTlsNotSpoken;
  }
}

}  // namespace

bool Connection::beginSecureLink() {
  const ServerEntry& server = ServerList::instance().current();
  if (!server.tls) return true;
  net::TlsOptions options;
  options.host = server.host;
  options.pin = settingText("Connection/TLS/Pin");
  options.caFile = settingText("Connection/TLS/CAFile");
  return startTls(options);
}

bool Connection::refusePlainEntry(const ServerEntry& server) {
  if (server.tls || KS_GetSettingLong("Connection/TLS/Required", 0) == 0) return false;
  disconnectReason_ = kReasonRefused;
  setState(kSignedOut);
  showError(loadText(kStrLoginFailed), loadText(kStrTlsRequired) + "\n\n" + hostAndPort(server.host, server.port));
  return true;
}

void Connection::onTlsReady() { KS_SetVariantLong(kEncryptedVariant, 1); }

void Connection::onTlsFailed(net::TlsFailure failure, const std::string& subject) {
  disconnectReason_ = kReasonRefused;
  stopTimer();
  onClosed();
  std::string text = loadText(kStrTlsFailed) + "\n\n" + loadText(failureText(failure));
  if (!subject.empty()) text += "\n\n" + loadText(kStrCertificate) + " " + subject;
  showError(loadText(kStrLoginFailed), text);
}

}  // namespace olvaro::conn
