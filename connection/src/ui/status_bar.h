// The strip in the main window that shows the connection's state, the
// user's own name and presence, and how many messages wait unread.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "framework/control.h"
#include "olvaro/api.h"
#include "olvaro/registrations.h"

namespace olvaro::conn {

// What the strip shows; free of windows so each rule can be checked alone.
// The icon's resource name, or null where the busy indicator or nothing
// is drawn.
const char16_t* statusIconName(long state, long unread);
// States whose square shows the busy indicator, and those animating it.
bool showsBusyIndicator(long state);
bool animatesBusyIndicator(long state);
std::u16string statusFirstLine(long state, const ServiceData& own);
std::u16string statusSecondLine(long state, long unread, const ServiceData& own);
// Where the lock of a verified encrypted link is drawn in a strip of this
// size: a square at the right end of the second line, which ends before it.
RECT statusLockBox(const RECT& client);

class ConnectionStatusBar : public fwk::Control {
 public:
  // Opens the presence menu at a screen point.
  using MenuOpener = std::function<void(int x, int y)>;

  // A child of `parent`; placed into the layout when there is one.
  ConnectionStatusBar(HWND parent, void* layout, HService* service, MenuOpener openMenu);
  ~ConnectionStatusBar() override;

  bool animating() const { return timerRunning_; }
  unsigned ticks() const { return ticks_; }

  // The bar's height for a screen: two fifths of an inch.
  static int heightForDpi(int dpi) { return dpi * 2 / 5; }

 protected:
  LRESULT onContextMenu(int x, int y) override;
  LRESULT onEraseBackground(HDC dc) override;
  LRESULT onGetDlgCode(UINT key, MSG* msg) override;
  LRESULT onKey(UINT key, bool down, LPARAM repeatData) override;
  LRESULT onPaint() override;
  LRESULT onStylusDown(bool doubleTap, int x, int y) override;
  LRESULT onTimer(UINT_PTR id) override;

 private:
  void refresh();
  void paint(HDC dc, const RECT& client);
  HICON icon(const char16_t* name, int size);

  HService* service_;
  MenuOpener openMenu_;
  VariantSubscription stateWatch_;
  VariantSubscription unreadWatch_;
  VariantSubscription encryptedWatch_;
  ServiceSubscription serviceWatch_;
  bool timerRunning_ = false;
  unsigned ticks_ = 0;
  std::map<std::pair<std::u16string, int>, HICON> icons_;
};

}  // namespace olvaro::conn
