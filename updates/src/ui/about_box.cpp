#include "about_box.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "build_stamp.h"
#include "framework/fonts.h"
#include "framework/phone_dialog.h"
#include "framework/row.h"
#include "platform/bitmap.h"
#include "platform/controls.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace updates {

namespace {

constexpr UINT kAboutMenuBar = 101;

bool endsWithNoCase(const std::string& name, const char* ext) {
  size_t n = std::strlen(ext);
  if (name.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ext[i]) return false;
  return true;
}

}  // namespace

std::string buildDateText(uint32_t stamp) {
  if (!stamp) return "Unknown Version";
  std::time_t t = std::time_t(stamp);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

std::vector<std::string> aboutModules(const std::string& folder, const std::string& program) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file(error) && (endsWithNoCase(name, ".so") || endsWithNoCase(name, ".dll")))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  names.insert(names.begin(), program);
  return names;
}

AboutBox::AboutBox(HWND owner, const std::string& folder, const std::string& program, std::function<void()> onClosed)
    : fwk::Control(nullptr, u"About", WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   owner, nullptr),
      onClosed_(std::move(onClosed)) {
  menuBar_ = fwk::initPhoneDialog(hwnd(), kAboutMenuBar, platform::currentModule());
  RECT r;
  GetClientRect(hwnd(), &r);
  layout_ = std::make_unique<fwk::BoxLayout>(hwnd(), WS_CHILD | WS_VISIBLE, 0, 0, r.right, r.bottom);
  heading_ = CreateWindowEx(0, u"STATIC", u"Modules", WS_CHILD | WS_VISIBLE, 0, 0, r.right, 10, layout_->hwnd(),
                            nullptr, nullptr, nullptr);
  SendMessage(heading_, WM_SETFONT, WPARAM(fwk::boldFont()), FALSE);
  list_ =
      std::make_unique<fwk::ListControl>(layout_->hwnd(), WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, r.right, r.bottom);
  layout_->add(heading_, fwk::screenDpi() / 5);
  layout_->addStretching(list_->hwnd());

  std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : aboutModules(folder, program)) {
    std::u16string path = platform::widen(base + name);
    SHFILEINFO info{};
    HICON icon = nullptr;
    if (SHGetFileInfo(path.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_ICON | SHGFI_SMALLICON))
      icon = info.hIcon;
    if (icon) icons_.push_back(icon);
    std::string text = buildDateText(readBuildStamp(base + name));
    list_->addRow(fwk::Ref<fwk::Row>(
        new fwk::TwoLineRow(platform::widen(name), platform::widen(text), icon, GetSystemMetrics(SM_CXSMICON))));
  }
  ShowWindow(hwnd(), SW_SHOW);
  SetFocus(list_->hwnd());
}

AboutBox::~AboutBox() {
  onClosed_ = nullptr;
  list_.reset();
  layout_.reset();
  for (HICON icon : icons_) DestroyIcon(icon);
}

LRESULT AboutBox::onDestroy() {
  if (auto closed = std::move(onClosed_)) {
    onClosed_ = nullptr;
    closed();
  }
  return 0;
}

LRESULT AboutBox::onCommand(UINT id, UINT, HWND) {
  if (id == IDOK || id == IDCANCEL) DestroyWindow(hwnd());
  return 0;
}

LRESULT AboutBox::onSize(UINT, int width, int height) {
  if (layout_) MoveWindow(layout_->hwnd(), 0, 0, width, height, TRUE);
  return 0;
}

}  // namespace updates
