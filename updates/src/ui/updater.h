// What the plug-in does while it runs: at start, finishes or undoes an
// update a crash cut short, tidies the program folder and moves old settings
// on; then checks for updates on a five-minute timer, at most once an hour.
#pragma once

#include <memory>
#include <string>

#include "transport/timer_client.h"
#include "update_check.h"
#include "update_notice.h"

namespace updates {

// Brings older settings up to the current level ("updates.versionid" 5).
void migrateSettings();

class Updater : public olvaro::net::TimerClient {
 public:
  static constexpr unsigned kTickMs = 300000;
  static constexpr long kCheckEverySeconds = 3600;

  // `folder` is the program folder; `program` the running program's file name.
  Updater(std::string folder, std::string program);
  ~Updater() override;

  void onTimer() override { checkTimer(); }
  void checkTimer();

  UpdateNotice& notice() { return *notice_; }
  UpdateCheck* check() const { return check_.get(); }

 private:
  std::string folder_;
  std::unique_ptr<UpdateNotice> notice_;
  std::unique_ptr<UpdateCheck> check_;
};

}  // namespace updates
