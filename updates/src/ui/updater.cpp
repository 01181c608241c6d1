#include "updater.h"

#include <cstdlib>
#include <cstring>

#include "install_journal.h"
#include "olvaro/api.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/shell.h"

namespace updates {

namespace {

// The run-at-start-up shortcut the host makes: the program with "/hidden".
void createStartupShortcut() {
  WCHAR self[MAX_PATH] = {};
  DWORD length = GetModuleFileName(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  WCHAR folder[MAX_PATH] = {};
  if (!SHGetSpecialFolderPath(nullptr, folder, CSIDL_STARTUP, FALSE)) return;
  std::u16string path = std::u16string(folder) + u"\\Olvaro.lnk";
  std::u16string target = u"\"" + std::u16string(self) + u"\" /hidden";
  SHCreateShortcut(path.data(), target.data());
}

}  // namespace

void migrateSettings() {
  long level = KS_GetSettingLong("updates.versionid", 0);
  if (level < 1) createStartupShortcut();
  char platformName[64] = {};
  KS_GetPlatformName(platformName);
  if (level < 3 && std::strcmp(platformName, "PocketPC") != 0) KS_SetSettingLong("advanced.powersave", 1);
  KS_SetSettingLong("updates.versionid", 5);
}

Updater::Updater(std::string folder, std::string program) : folder_(std::move(folder)) {
  recoverInstall(folder_);
  migrateSettings();
  notice_ = std::make_unique<UpdateNotice>(folder_, std::move(program));
  startTimer(kTickMs);
}

Updater::~Updater() {
  stopTimer();
  check_.reset();
  notice_.reset();
}

void Updater::checkTimer() {
  if (check_) {
    int32_t state = check_->checkState();
    if (state == kCheckDownloading || state == kCheckInstalled) return;
    check_.reset();
  }
  long now = long(platform::clockNowUnixMs() / 1000);
  long last = KS_GetSettingLong("Updates/LastCheck", 0);
  if (std::labs(now - last) > kCheckEverySeconds) {
    KS_SetSettingLong("Updates/LastCheck", now);
    check_ = std::make_unique<UpdateCheck>(*notice_, folder_);
    check_->start();
  }
}

}  // namespace updates
