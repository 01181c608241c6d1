#include "update_check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "build_stamp.h"
#include "olvaro/api.h"
#include "package_signature.h"
#include "platform/clock.h"
#include "platform/device.h"
#include "update_install.h"
#include "update_manifest.h"

#ifndef OLVARO_UPDATE_HOST
#define OLVARO_UPDATE_HOST "localhost"
#endif

namespace updates {

bool isModuleName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return true;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".dll" || ext == ".exe" || ext == ".so";
}

std::vector<ModuleStamp> listModules(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error)) continue;
    std::string name = entry.path().filename().string();
    if (isModuleName(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<ModuleStamp> modules;
  for (const std::string& name : names)
    if (uint32_t build = readBuildStamp(folder + "/" + name)) modules.push_back({name, build});
  return modules;
}

std::string buildRequest(const std::string& host, const std::string& folder) {
  char platform[64] = {};
  KS_GetPlatformName(platform);
  HttpMessage request;
  request.startLine = "POST /u.php HTTP/1.0";
  request.headers["Host"] = host;
  request.body = requestBody(listModules(folder), platform, long(GetUserDefaultUILanguage()),
                             KS_GetVariantLong("Olvaro/Connection/Sub-Id"));
  request.headers["Content-Length"] = std::to_string(request.body.size());
  request.headers["Content-Type"] = "text/xml";
  return serializeRequest(request);
}

UpdateCheck::UpdateCheck(StatusSink& status, std::string folder) : status_(status), folder_(std::move(folder)) {}

UpdateCheck::~UpdateCheck() {
  // The check is going away: nothing it reports may reach the sink now.
  done_ = true;
  stopTimer();
  closeSocket();
}

void UpdateCheck::start() {
  status_.reportStatus("Automatic Updates", "Connecting to server...");
  char host[256] = {};
  KS_GetSettingString("Updates/ServerHost", OLVARO_UPDATE_HOST, host, sizeof host);
  host_ = host;
  startConnect(host_, int(KS_GetSettingLong("Updates/ServerPort", 80)));
}

void UpdateCheck::onConnected() {
  SocketConnection::onConnected();
  status_.reportStatus("Automatic Updates", "Checking for updates...");
  outputBuffer += buildRequest(host_, folder_);
  flush();
}

void UpdateCheck::onDataReceived() {
  if (done_) {
    inputBuffer.clear();
    return;
  }
  size_t before = reader_.received();
  reader_.feed(inputBuffer.data(), inputBuffer.size());
  inputBuffer.clear();
  auto state = reader_.state();
  // Every block that brought body bytes is progress, the last one too.
  if (reader_.received() > before &&
      (state == ResponseReader::State::Body || state == ResponseReader::State::Complete)) {
    if (state_ != kCheckDownloading) startTimer(kStallTickMs);
    state_ = kCheckDownloading;
    lastProgressMs_ = platform::clockMonotonicMs();
    size_t r = reader_.received(), t = reader_.expected();
    char text[96];
    std::snprintf(text, sizeof text, "Downloading %d/%d KB (%d %%)", int(r / 1024), int(t / 1024),
                  t ? int(uint64_t(r) * 100 / t) : 0);
    status_.reportStatus("Downloading Updates", text);
  }
  switch (state) {
    case ResponseReader::State::Complete:
      done_ = true;
      stopTimer();
      process(reader_.message());
      closeSocket();
      break;
    case ResponseReader::State::Failed:
      // Oversized or malformed: nothing of it is used.
      done_ = true;
      stopTimer();
      status_.removeStatus();
      state_ = kCheckFailed;
      closeSocket();
      break;
    default: break;
  }
}

void UpdateCheck::onClosed() {
  SocketConnection::onClosed();
  if (done_) return;
  done_ = true;
  stopTimer();
  if (state_ == kCheckStarted) {
    status_.removeStatus();
  } else if (state_ == kCheckDownloading) {
    // Cut off mid-download: the next tick may try again.
    status_.removeStatus();
    state_ = kCheckFailed;
  }
}

void UpdateCheck::onTimer() {
  if (done_ || state_ != kCheckDownloading || platform::clockMonotonicMs() - lastProgressMs_ < kStallMs) return;
  // Stalled: failed as if cut off, and no longer holding later checks back.
  done_ = true;
  stopTimer();
  closeSocket();
  status_.removeStatus();
  state_ = kCheckFailed;
}

void UpdateCheck::fail(const std::string& text) {
  status_.reportStatus("Automatic Updates Failed", text);
  state_ = kCheckFailed;
}

void UpdateCheck::process(const HttpMessage& response) {
  state_ = kCheckProcessing;
  if (response.startLine.find(" 200 ") == std::string::npos) {
    status_.removeStatus();
    state_ = kCheckFailed;
    return;
  }
  if (response.body.empty()) {
    status_.removeStatus();
    state_ = kCheckNoUpdates;
    return;
  }
  auto header = [&](const char* name) {
    auto it = response.headers.find(name);
    return it == response.headers.end() ? std::string() : it->second;
  };
  std::string signedBytes;
  if (!fromBase64(header(kManifestHeader), &signedBytes) ||
      !verifyUpdateSignature(reinterpret_cast<const uint8_t*>(signedBytes.data()), signedBytes.size(),
                             header(kSignatureHeader))) {
    fail("The update is not signed by Olvaro.");
    return;
  }
  Manifest manifest;
  if (!readManifest(reinterpret_cast<const uint8_t*>(signedBytes.data()), signedBytes.size(), &manifest)) {
    fail("The update package is damaged.");
    return;
  }
  status_.reportStatus("Automatic Updates", "Installing Updates");
  const auto* body = reinterpret_cast<const uint8_t*>(response.body.data());
  switch (installPackage(folder_, manifest, body, response.body.size())) {
    case InstallResult::Installed:
      status_.reportStatus("New Updates Installed", "Restart Olvaro when Convenient");
      state_ = kCheckInstalled;
      return;
    case InstallResult::MapFailed: fail("Could not map file to memory."); return;
    case InstallResult::OutputFailed: fail("Could not open output file."); return;
    case InstallResult::BadPackage: fail("The update package is damaged."); return;
    case InstallResult::InstallFailed: fail("Could not replace the program files."); return;
    case InstallResult::WrongSources: fail("The update was made for other versions of the installed files."); return;
    case InstallResult::NotNewer: fail("The update is not newer than the installed version."); return;
    case InstallResult::WrongResult: fail("The update did not rebuild the files it names."); return;
    case InstallResult::TooLarge: fail("The update is too large."); return;
    case InstallResult::NoSpace: fail("There is not enough free space for the update."); return;
  }
}

}  // namespace updates
