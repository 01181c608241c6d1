#include <cairo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/device.h"
#include "platform/gdi.h"
#include "screen_internal.h"

namespace platform {
namespace {

// Shows nothing, plays nothing: the screen is read by tests.
class HeadlessBackend : public DeviceBackend {
 public:
  const char* name() const override { return "headless"; }
};

struct Screen {
  std::mutex m;
  int width = 0;
  int height = 0;
  int dpi = 0;
  std::vector<uint32_t> pixels;
  cairo_surface_t* surface = nullptr;
  std::unique_ptr<DeviceBackend> backend;
  std::map<std::string, DeviceBackendFactory> factories;
  std::vector<std::pair<cairo_surface_t*, std::unique_ptr<std::vector<uint32_t>>>> retired;
};

Screen& S() {
  static Screen* s = new Screen;  // lives to the end; windows may paint late
  return *s;
}

// Size and DPI come from the device description (OLVARO_SCREEN, OLVARO_DPI).
void deviceScreen(int* w, int* h, int* dpi) {
  platform::DeviceInfo d = platform::deviceInfo();
  *w = std::clamp(d.screenWidth, 16, 4096);
  *h = std::clamp(d.screenHeight, 16, 4096);
  *dpi = std::clamp(d.dpi, 48, 600);
}

void ensure(Screen& s) {
  if (s.surface) return;
  int w, h, d;
  deviceScreen(&w, &h, &d);
  s.width = w;
  s.height = h;
  s.dpi = d;
  s.pixels.assign(size_t(w) * size_t(h), 0xFFFFFF);
  s.surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(s.pixels.data()),
                                                  CAIRO_FORMAT_RGB24, w, h, w * 4);
  if (!s.backend) s.backend = std::make_unique<HeadlessBackend>();
}

}  // namespace

void screenInit(int width, int height, int dpi) {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  int w, h, d;
  deviceScreen(&w, &h, &d);
  if (width > 0 && height > 0) {
    w = width;
    h = height;
  }
  if (dpi > 0) d = dpi;
  if (s.surface && (w != s.width || h != s.height)) {
    // DCs still open may point at the old surface: keep it and its pixels.
    cairo_surface_finish(s.surface);
    s.retired.emplace_back(s.surface, std::make_unique<std::vector<uint32_t>>(std::move(s.pixels)));
    s.surface = nullptr;
  }
  s.width = w;
  s.height = h;
  s.dpi = d;
  if (!s.surface) {
    s.pixels.assign(size_t(w) * size_t(h), 0xFFFFFF);
    s.surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(s.pixels.data()),
                                                    CAIRO_FORMAT_RGB24, w, h, w * 4);
  } else {
    cairo_surface_flush(s.surface);
    std::fill(s.pixels.begin(), s.pixels.end(), 0xFFFFFF);
    cairo_surface_mark_dirty(s.surface);
  }
  if (!s.backend) s.backend = std::make_unique<HeadlessBackend>();
}

int screenWidth() {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  return s.width;
}

int screenHeight() {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  return s.height;
}

int screenDpi() {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  return s.dpi;
}

COLORREF screenPixel(int x, int y) {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  if (x < 0 || y < 0 || x >= s.width || y >= s.height) return CLR_INVALID;
  cairo_surface_flush(s.surface);
  uint32_t p = s.pixels[size_t(y) * size_t(s.width) + size_t(x)];
  return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

bool screenSavePng(const std::string& path) {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  cairo_surface_flush(s.surface);
  return cairo_surface_write_to_png(s.surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

void screenRegisterBackend(const std::string& name, DeviceBackendFactory factory) {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  s.factories[name] = factory;
}

bool screenSelectBackend(const std::string& requested) {
  Screen& s = S();
  std::string name = requested;
  if (name.empty()) {
    const char* env = std::getenv("OLVARO_BACKEND");
    name = env && *env ? env : "headless";
  }
  std::unique_ptr<DeviceBackend> b;
  if (name == "headless") {
    b = std::make_unique<HeadlessBackend>();
  } else {
    DeviceBackendFactory f = nullptr;
    {
      std::lock_guard<std::mutex> g(s.m);
      auto it = s.factories.find(name);
      if (it != s.factories.end()) f = it->second;
    }
    if (!f || !(b = f())) return false;
  }
  std::lock_guard<std::mutex> g(s.m);
  s.backend = std::move(b);
  return true;
}

DeviceBackend* deviceBackend() {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  return s.backend.get();
}

namespace screen {

cairo_surface_t* surface() {
  Screen& s = S();
  std::lock_guard<std::mutex> g(s.m);
  ensure(s);
  return s.surface;
}

void changed(const RECT& area) {
  DeviceBackend* b = deviceBackend();
  if (b) b->present(area);
}

}  // namespace screen
}  // namespace platform
