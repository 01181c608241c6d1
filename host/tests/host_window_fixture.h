// The host's windows in-process on the headless screen: the test program
// stands in for the host (it carries the host's resources).
#pragma once

#include <memory>

#include "host_fixture.h"
#include "main_window.h"
#include "startup.h"
#include "testkit/testkit.h"

class HostWindowTest : public hubtest::HubTest {
 protected:
  void TearDown() override {
    if (host_) host_->stop();
    host_.reset();
    hubtest::HubTest::TearDown();
  }

  // Starts the host on a program folder of the given test plug-ins.
  host::Host& start(const std::vector<std::string>& plugins = {}, const std::u16string& line = u"/newinstance") {
    host_ = std::make_unique<host::Host>();
    std::string folder = makeProgramFolder(home(), plugins);
    host_->start(host::parseCommandLine(line), std::u16string(folder.begin(), folder.end()));
    testkit::pump();
    return *host_;
  }
  host::MainWindow& main() { return *host_->mainWindow(); }
  void command(UINT id) {
    SendMessage(main().hwnd(), WM_COMMAND, id, 0);
    testkit::pump();
  }
  // Ends the run as the message loop would see it; false when no quit came.
  bool quitPosted() {
    MSG msg;
    return PeekMessage(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 0;
  }
  void setSignedIn(bool signedIn) {
    HService* primary = KS_GetPrimaryService();
    ServiceData d{};
    d.size = sizeof d;
    d.mask = SERVICE_STATE;
    d.state = signedIn ? 100 : 0;
    KS_SetServiceData(primary, &d);
    KS_ReleaseService(primary);
    KS_SetVariantLong("connection.state", signedIn ? 100 : 0);
  }

  std::unique_ptr<host::Host> host_;
};
