#include "update_notice.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "framework/phone_dialog.h"
#include "olvaro/connection_calls.h"
#include "olvaro/hub_records.h"
#include "platform/controls.h"
#include "platform/resources.h"
#include "platform/text.h"

namespace updates {

namespace {

constexpr UINT kMenuBar = 101;
constexpr size_t kMaxChangeLog = 1 << 20;  // more is not a change log

}  // namespace

// "Olvaro Updated!": the change log in a read-only text field filling the
// window.
class ChangeLogWindow : public fwk::Control {
 public:
  ChangeLogWindow(HWND owner, const std::string& text)
      : fwk::Control(nullptr, u"Olvaro Updated!", WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                     CW_USEDEFAULT, owner, nullptr) {
    fwk::initPhoneDialog(hwnd(), kMenuBar, platform::currentModule());
    RECT r;
    GetClientRect(hwnd(), &r);
    // The field shows CR LF line ends; a file may have either.
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
      lines += text[i];
    }
    std::u16string wide = platform::widen(lines);
    edit_ = CreateWindowEx(0, u"EDIT", wide.c_str(),
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0,
                           r.right, r.bottom, hwnd(), nullptr, nullptr, nullptr);
    ShowWindow(hwnd(), SW_SHOW);
  }
  HWND edit() const { return edit_; }

 protected:
  LRESULT onCommand(UINT id, UINT, HWND) override {
    if (id == IDOK || id == IDCANCEL) ShowWindow(hwnd(), SW_HIDE);
    return 0;
  }
  LRESULT onSize(UINT, int width, int height) override {
    if (edit_) MoveWindow(edit_, 0, 0, width, height, TRUE);
    return 0;
  }

 private:
  HWND edit_ = nullptr;
};

UpdateNotice::UpdateNotice(std::string folder, std::string program)
    : folder_(std::move(folder)), program_(std::move(program)) {
  aboutEvent_ = olvaro::subscribeEvent<&UpdateNotice::showAbout>("core.window.menu.about", this);
  std::string path = folder_ + "/changelog.txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  std::string text(kMaxChangeLog, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(size_t(in.gcount()));
  in.close();
  std::remove(path.c_str());
  HWND owner = olvaro::mainWindow();
  changeLog_ = std::make_unique<ChangeLogWindow>(owner, text);
}

UpdateNotice::~UpdateNotice() {
  aboutEvent_.reset();
  about_.reset();
  closedAbout_.reset();
  changeLog_.reset();
  removeStatus();
}

HWND UpdateNotice::changeLogWindow() const { return changeLog_ ? changeLog_->hwnd() : nullptr; }

void UpdateNotice::reportStatus(const std::string& title, const std::string& text) {
  olvaro::OverviewItemInfo info{};
  info.size = sizeof info;
  info.title = title.c_str();
  info.text = text.c_str();
  info.iconModule = platform::currentModule();
  info.iconResource = u"DOWNLOAD";
  if (item_) {
    info.item = item_;
    KS_CallFunction("Overview/UpdateStaticItem", &info);
    return;
  }
  if (!section_) {
    olvaro::OverviewSectionInfo section{sizeof section, "UPDATES", "Automatic Updates", 0, nullptr};
    if (KS_CallFunction("Overview/CreateSection", &section)) section_ = section.section;
  }
  if (!section_) return;  // no overview (yet): nothing to show it in
  info.section = section_;
  if (KS_CallFunction("Overview/AddStaticItem", &info)) item_ = info.item;
}

void UpdateNotice::removeStatus() {
  if (item_) KS_CallFunction("Overview/DeleteItem", item_);
  item_ = nullptr;
}

void UpdateNotice::showAbout() {
  if (about_) return;
  closedAbout_.reset();
  HWND owner = olvaro::mainWindow();
  about_ = std::make_unique<AboutBox>(owner, folder_, program_, [this] { closedAbout_ = std::move(about_); });
}

}  // namespace updates
