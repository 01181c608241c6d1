// The main window: a frame the plug-ins fill through its layout, the
// soft-key menu with the per-service submenus, and the host's commands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework/box_layout.h"
#include "framework/control.h"
#include "olvaro/menu_commands.h"
#include "service_menu.h"

namespace host {

class SettingsDialog;
class AddServiceDialog;

// Commands of the main window's soft keys and menu, shared with the plug-ins
// so that none of theirs can be one of these.
using olvaro::HostCommand;
using enum olvaro::HostCommand;

// Posted to the main window when the program is asked to end from outside
// (a termination signal, the desktop window closed).
constexpr UINT kEndRequest = WM_APP + 2;

class MainWindow : public fwk::Control {
 public:
  MainWindow();
  ~MainWindow() override;

  HWND menuBar() const { return menuBar_; }
  // The layout plug-ins place their screens in; it fills the client area.
  fwk::BoxLayout* layout() { return layout_.get(); }
  void show();
  // Saves the screen as a PNG after `ms` and then ends the program: how
  // the headless run shows a person what came up.
  void snapshotAfter(unsigned ms, std::string path);

  // The dialogs while they exist (null otherwise).
  SettingsDialog* settingsDialog() const { return settings_.get(); }
  AddServiceDialog* addServiceDialog() const { return addService_.get(); }
  // Services submenus currently inserted at the top of "Menu".
  int serviceSubmenus() const { return serviceMenu_.inserted(); }
  // An end was asked for from outside, and the window may still stand
  // because a message box or menu was up then.
  bool endRequested() const { return endRequested_; }

  LRESULT windowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 protected:
  LRESULT onCommand(UINT id, UINT code, HWND control) override;
  LRESULT onClose() override;
  LRESULT onDestroy() override;
  LRESULT onSize(UINT kind, int width, int height) override;
  LRESULT onTimer(UINT_PTR id) override;

 private:
  void command(UINT id);
  void hide();
  void exit();
  void endWithoutAsking();
  void showSettings();
  void showAddService();
  // A dialog that closed is let go at once and freed once its own message
  // handling has returned.
  void retire(std::unique_ptr<fwk::Control> dialog);

  std::string snapshotPath_;
  HWND menuBar_ = nullptr;
  UINT activate_ = 0;
  bool endRequested_ = false;
  HICON smallIcon_ = nullptr;
  HICON bigIcon_ = nullptr;
  ServiceMenu serviceMenu_;
  std::unique_ptr<fwk::BoxLayout> layout_;
  std::unique_ptr<SettingsDialog> settings_;
  std::unique_ptr<AddServiceDialog> addService_;
  std::vector<std::unique_ptr<fwk::Control>> retired_;
};

}  // namespace host
