#include "main_window.h"

#include <cstring>

#include "add_service_dialog.h"
#include "olvaro/api.h"
#include "platform/bitmap.h"
#include "platform/menu.h"
#include "platform/msgbox.h"
#include "platform/phoneshell.h"
#include "platform/resources.h"
#include "platform/screen.h"
#include "settings_dialog.h"
#include "startup.h"
#include "string_table.h"

#ifndef ICON_SMALL
#define ICON_SMALL 0
#define ICON_BIG 1
#endif

namespace host {

namespace {

constexpr UINT kMainMenuBar = 102;
constexpr UINT kExitCaption = 102;
constexpr UINT kExitText = 103;
// Posted to itself to free dialogs that have closed.
constexpr UINT kReapDialogs = WM_APP + 1;
constexpr UINT_PTR kSnapshotTimer = 1;

}  // namespace

MainWindow::MainWindow()
    : fwk::Control(nullptr, u"Olvaro", WS_CAPTION | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                   CW_USEDEFAULT, nullptr, nullptr) {
  activate_ = activateMessage();
  HMODULE self = GetModuleHandle(nullptr);
  int small = GetSystemMetrics(SM_CXSMICON), big = GetSystemMetrics(SM_CXICON);
  smallIcon_ = static_cast<HICON>(LoadImage(self, u"AA_ORVALO", IMAGE_ICON, small, small, 0));
  bigIcon_ = static_cast<HICON>(LoadImage(self, u"AA_ORVALO", IMAGE_ICON, big, big, 0));
  SendMessage(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  SendMessage(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));

  SHINITDLGINFO init{};
  init.dwMask = SHIDIM_FLAGS;
  init.hDlg = hwnd();
  init.dwFlags = SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN;
  SHInitDialog(&init);

  SHMENUBARINFO mb{};
  mb.cbSize = sizeof mb;
  mb.hwndParent = hwnd();
  mb.nToolBarId = kMainMenuBar;
  mb.hInstRes = self;
  if (SHCreateMenuBar(&mb)) menuBar_ = mb.hwndMB;

  RECT client;
  GetClientRect(hwnd(), &client);
  layout_ = std::make_unique<fwk::BoxLayout>(hwnd(), WS_CHILD | WS_VISIBLE, 0, 0, client.right, client.bottom);
}

MainWindow::~MainWindow() {
  settings_.reset();
  addService_.reset();
  retired_.clear();
  if (smallIcon_) DestroyIcon(smallIcon_);
  if (bigIcon_) DestroyIcon(bigIcon_);
}

void MainWindow::show() {
  ShowWindow(hwnd(), SW_SHOW);
  UpdateWindow(hwnd());
}

LRESULT MainWindow::windowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (activate_ && msg == activate_) {
    if (!IsWindowVisible(hwnd())) ShowWindow(hwnd(), SW_SHOW);
    SetForegroundWindow(hwnd());
    return 0;
  }
  if (msg == WM_INITMENUPOPUP) {
    // Only the soft key's own menu carries the services.
    HMENU menu = reinterpret_cast<HMENU>(wParam);
    HMENU mine = reinterpret_cast<HMENU>(SendMessage(menuBar_, SHCMBM_GETSUBMENU, 0, kCommandMenu));
    if (menu && menu == mine) serviceMenu_.rebuild(menu);
    return 0;
  }
  if (msg == kEndRequest) {
    endWithoutAsking();
    return 0;
  }
  if (msg == kReapDialogs) {
    retired_.clear();
    return 0;
  }
  return fwk::Control::windowProc(msg, wParam, lParam);
}

LRESULT MainWindow::onCommand(UINT id, UINT, HWND) {
  command(id);
  return 0;
}

LRESULT MainWindow::onClose() {
  // KS_Exit closes the window: the same question as choosing Exit.
  exit();
  return 0;
}

LRESULT MainWindow::onDestroy() {
  PostQuitMessage(0);
  return 0;
}

LRESULT MainWindow::onSize(UINT, int width, int height) {
  if (layout_) MoveWindow(layout_->hwnd(), 0, 0, width, height, TRUE);
  return 0;
}

void MainWindow::snapshotAfter(unsigned ms, std::string path) {
  snapshotPath_ = std::move(path);
  SetTimer(hwnd(), kSnapshotTimer, ms, nullptr);
}

LRESULT MainWindow::onTimer(UINT_PTR id) {
  if (id != kSnapshotTimer) return fwk::Control::onTimer(id);
  KillTimer(hwnd(), kSnapshotTimer);
  platform::screenSavePng(snapshotPath_);
  DestroyWindow(hwnd());
  return 0;
}

void MainWindow::command(UINT id) {
  // Plug-ins see every command first; their own ids are theirs to handle.
  KS_EventRaise("core.window.OnCommand", reinterpret_cast<void*>(static_cast<uintptr_t>(id)));
  switch (id) {
    case kCommandHide:
      hide();
      break;
    case kCommandAbout:
      KS_EventRaise("core.window.menu.about", nullptr);
      break;
    case kCommandExit:
      exit();
      break;
    case kCommandSettings:
      showSettings();
      break;
    case kCommandAddService:
      showAddService();
      break;
  }
}

void MainWindow::hide() {
  char platform[32] = {};
  KS_GetPlatformName(platform);
  // On a touch screen the application simply leaves the screen; starting
  // it again (or its activation) brings it back.
  ShowWindow(hwnd(), std::strcmp(platform, "SmartPhone") == 0 ? SW_MINIMIZE : SW_HIDE);
}

void MainWindow::exit() {
  bool signedIn = false;
  if (HService* primary = KS_GetPrimaryService()) {
    ServiceData data{};
    data.size = sizeof data;
    KS_GetServiceData(primary, &data);
    signedIn = data.state != 0;
    KS_ReleaseService(primary);
  }
  if (signedIn && MessageBox(hwnd(), loadText(kExitText).c_str(), loadText(kExitCaption).c_str(),
                             MB_YESNO | MB_ICONQUESTION) != IDYES)
    return;
  DestroyWindow(hwnd());
}

void MainWindow::endWithoutAsking() {
  endRequested_ = true;
  // A message box or menu runs its own loop below the host's. Destroying the
  // window under it would return into code whose windows are gone; a quit
  // message instead ends each such loop in turn and then the host's, which
  // destroys the window afterwards.
  if (platform::activeMessageBox() || platform::activeMenuWindow()) {
    PostQuitMessage(0);
    return;
  }
  DestroyWindow(hwnd());
}

void MainWindow::showSettings() {
  if (!settings_)
    settings_ = std::make_unique<SettingsDialog>(hwnd(), [this] { retire(std::move(settings_)); });
  settings_->bringUp();
}

void MainWindow::showAddService() {
  if (!addService_)
    addService_ = std::make_unique<AddServiceDialog>(hwnd(), [this] { retire(std::move(addService_)); });
  addService_->bringUp();
}

void MainWindow::retire(std::unique_ptr<fwk::Control> dialog) {
  if (!dialog) return;
  retired_.push_back(std::move(dialog));
  PostMessage(hwnd(), kReapDialogs, 0, 0);
}

}  // namespace host
