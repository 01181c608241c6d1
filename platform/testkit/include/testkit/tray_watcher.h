// A tray host of a test's own: on a given bus it owns
// org.kde.StatusNotifierWatcher, keeps the items registered with it while
// their names are owned, and reads and calls them as a desktop's tray
// would. Its bus work runs on a thread of its own, so an item's calls to it
// are answered whatever the test is doing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testkit {

class TrayWatcher {
 public:
  TrayWatcher();
  ~TrayWatcher();
  TrayWatcher(const TrayWatcher&) = delete;
  TrayWatcher& operator=(const TrayWatcher&) = delete;
  bool start(const std::string& busAddress, std::string* why);
  // Lets go of the bus (before the bus itself goes).
  void stop();

  // The bus name of the item registered and still there; "" for none.
  std::string item() const;
  // A call to the item (`path` empty: its own object); the reply as GVariant
  // text, or "error: ..." when it failed.
  std::string call(const std::string& path, const std::string& interface, const std::string& method,
                   const std::string& args) const;
  // A property of the item: strings as they are, anything else as GVariant
  // text with its type; "error: ..." when it cannot be read.
  std::string property(const std::string& name) const;
  // A pixmap property's first image: width, height, ARGB32 bytes.
  bool pixmap(const std::string& name, int* width, int* height, std::vector<uint8_t>* argb) const;

  struct State;

 private:
  std::unique_ptr<State> s_;
};

}  // namespace testkit
