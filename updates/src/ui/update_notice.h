// The plug-in's one notice object: the "Automatic Updates" status item of
// the overview, the change log shown once after an update, and the About
// box (one at a time).
#pragma once

#include <memory>
#include <string>

#include "about_box.h"
#include "framework/control.h"
#include "olvaro/api.h"
#include "olvaro/registrations.h"
#include "update_check.h"

namespace updates {

class ChangeLogWindow;

class UpdateNotice : public StatusSink {
 public:
  // Shows a waiting "changelog.txt" of `folder` (and deletes it).
  UpdateNotice(std::string folder, std::string program);
  ~UpdateNotice() override;
  UpdateNotice(const UpdateNotice&) = delete;
  UpdateNotice& operator=(const UpdateNotice&) = delete;

  void reportStatus(const std::string& title, const std::string& text) override;
  void removeStatus() override;

  // Opens the About box unless one is open.
  void showAbout();
  AboutBox* aboutBox() const { return about_.get(); }
  HWND changeLogWindow() const;
  void* statusItem() const { return item_; }

 private:
  std::string folder_;
  std::string program_;
  void* section_ = nullptr;
  void* item_ = nullptr;
  olvaro::EventSubscription aboutEvent_;
  std::unique_ptr<AboutBox> about_;
  std::unique_ptr<AboutBox> closedAbout_;  // freed once its window is gone
  std::unique_ptr<ChangeLogWindow> changeLog_;
};

}  // namespace updates
