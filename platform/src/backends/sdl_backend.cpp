// The "sdl" backend: the device screen in a real window. F1 and F2 are the
// soft keys, Escape is Back, Enter the action key; the left mouse button is
// the stylus, the right button (or a long press) is tap-and-hold; typed
// text arrives as characters; the clipboard is the desktop's.
//
// OLVARO_SDL_SCALE (1 to 4) scales the window; unset, the display's DPI
// decides. When a display is there and OLVARO_BACKEND is not set, the
// library sets it to "sdl", so screenSelectBackend() picks this backend.
#ifdef OLVARO_HAVE_SDL2

#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#ifdef OLVARO_HAVE_GIO
#include "desktop_notifier.h"
#include "desktop_tray.h"
#endif
#include "phoneshell_internal.h"
#include "platform/clock.h"
#include "platform/desktop.h"
#include "platform/end_request.h"
#include "platform/screen.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window.h"
#include "screen_internal.h"
#ifdef OLVARO_HAVE_X11
#include "x11_density.h"
#endif

namespace platform {
namespace {

// The display's dots per inch, 0 when nothing says. On X the desktop's
// chosen density (Xft.dpi) comes first, as toolkits take it; then what SDL
// reads from the outputs; then the X screen's own size, where the outputs
// name none (Xvfb, some remote desktops).
float displayDpi() {
#ifdef OLVARO_HAVE_X11
  const char* driver = SDL_GetCurrentVideoDriver();
  X11Density x11;
  if (driver && std::strcmp(driver, "x11") == 0) x11 = x11Density();
  if (x11.resource > 0) return x11.resource;
#endif
  float dpi = 0;
  if (SDL_GetDisplayDPI(0, nullptr, &dpi, nullptr) == 0 && dpi > 0) return dpi;
#ifdef OLVARO_HAVE_X11
  return x11.screen;
#else
  return 0;
#endif
}

// OLVARO_SDL_SCALE when set; else from the display's density, one step
// per 96 dots per inch, so the phone's screen stays readable on a dense
// display, but never larger than the display's usable area.
int windowScale(int width, int height) {
  if (const char* s = std::getenv("OLVARO_SDL_SCALE"); s && *s) return std::clamp(std::atoi(s), 1, 4);
  int scale = 1;
  if (float dpi = displayDpi(); dpi > 0) scale = std::clamp(int(dpi / 96 + 0.5f), 1, 4);
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0)
    while (scale > 1 && (width * scale > usable.w || height * scale > usable.h)) --scale;
  return scale;
}

UINT virtualKey(SDL_Keycode k) {
  switch (k) {
    case SDLK_F1: return VK_TSOFT1;
    case SDLK_F2: return VK_TSOFT2;
    case SDLK_ESCAPE: return VK_TBACK;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_HOME: return VK_HOME;
    case SDLK_END: return VK_END;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_MENU:
    case SDLK_APPLICATION: return VK_APPS;
    case SDLK_F3: return VK_TTALK;
    case SDLK_F4: return VK_TEND;
  }
  return 0;
}

class SdlBackend : public DeviceBackend {
 public:
  ~SdlBackend() override {
#ifdef OLVARO_HAVE_GIO
    notifier_.reset();
    tray_.reset();
#endif
    setClipboardBackend(nullptr, nullptr);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    closeSpeaker();
    audioInClose();
    if (SDL_WasInit(SDL_INIT_AUDIO)) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  // The desktop's speaker: one device, opened in the first output's format
  // and closed with the last, into which SDL mixes every open output; each
  // output is an SDL stream converting its own format to the device's. The
  // wave driver pushes at its own pace.
  int audioOutOpen(const AudioFormat& f) override {
    std::lock_guard<std::mutex> g(outLock_);
    if (!out_) {
      SDL_AudioSpec want = specOf(f);
      want.callback = &SdlBackend::mix;
      want.userdata = this;
      if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
      out_ = SDL_OpenAudioDevice(nullptr, 0, &want, &outSpec_, 0);
      if (!out_) return 0;
      mixBuffer_.assign(outSpec_.size, 0);
      SDL_PauseAudioDevice(out_, 0);
    }
    SDL_AudioSpec in = specOf(f);
    SDL_AudioStream* stream =
        SDL_NewAudioStream(in.format, in.channels, in.freq, outSpec_.format, outSpec_.channels, outSpec_.freq);
    if (!stream) {
      if (streams_.empty()) closeSpeaker();
      return 0;
    }
    SDL_LockAudioDevice(out_);
    int id = nextStream_++;
    streams_[id] = stream;
    rates_[id] = f.samplesPerSecond;
    SDL_UnlockAudioDevice(out_);
    return id;
  }
  size_t audioOutPlay(int stream, const void* data, size_t bytes) override {
    withStream(stream, [&](SDL_AudioStream* s) { SDL_AudioStreamPut(s, data, int(bytes)); });
    return bytes;
  }
  void audioOutDrain(int stream) override {
    withStream(stream, [&](SDL_AudioStream* s) {
      // SDL's resampler keeps back the last stretch even when flushed;
      // silence behind it lets it out.
      if (int rate = rates_[stream]; rate != outSpec_.freq) {
        std::vector<int16_t> silence(size_t(rate / 10));
        SDL_AudioStreamPut(s, silence.data(), int(silence.size() * 2));
      }
      SDL_AudioStreamFlush(s);
    });
  }
  void audioOutClear(int stream) override { withStream(stream, SDL_AudioStreamClear); }
  void audioOutClose(int stream) override {
    std::lock_guard<std::mutex> g(outLock_);
    auto it = streams_.find(stream);
    if (it == streams_.end()) return;
    if (out_) SDL_LockAudioDevice(out_);
    SDL_FreeAudioStream(it->second);
    streams_.erase(it);
    rates_.erase(stream);
    if (out_) SDL_UnlockAudioDevice(out_);
    if (streams_.empty()) closeSpeaker();
  }
  bool audioInOpen(const AudioFormat& f) override {
    audioInClose();
    in_ = openAudio(f, 1);
    return in_ != 0;
  }
  size_t audioInRead(void* buffer, size_t bytes) override {
    return in_ ? SDL_DequeueAudio(in_, buffer, Uint32(bytes)) : 0;
  }
  void audioInClose() override {
    if (in_) SDL_CloseAudioDevice(in_);
    in_ = 0;
  }

  bool open() {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    width_ = screenWidth();
    height_ = screenHeight();
    scale_ = windowScale(width_, height_);
    window_ = SDL_CreateWindow("Olvaro", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width_ * scale_,
                               height_ * scale_, 0);
    if (!window_) return false;
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return false;
    SDL_RenderSetLogicalSize(renderer_, width_, height_);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width_, height_);
    if (!texture_) return false;
    SDL_StartTextInput();
    setClipboardBackend(
        [](std::u16string* out) {
          if (!SDL_HasClipboardText()) return false;
          char* t = SDL_GetClipboardText();
          if (!t) return false;
          *out = widen(t);
          SDL_free(t);
          return true;
        },
        [](const std::u16string& text) { return SDL_SetClipboardText(narrow(text).c_str()) == 0; });
    dirty_ = true;
    return true;
  }

  const char* name() const override { return "sdl"; }

  void present(const RECT&) override { dirty_ = true; }

  void pollInput() override {
    // Events and drawing belong to the thread that opened the window.
    if (SDL_ThreadID() != owner_) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) handle(e);
    if (rightUpPending_ && clockMonotonicMs() >= rightDownAt_ + kTapAndHoldMs + 20) {
      rightUpPending_ = false;
      inputStylusUp(rightAt_.x, rightAt_.y);
    }
    if (dirty_.exchange(false)) draw();
#ifdef OLVARO_HAVE_GIO
    if (notifier_) notifier_->pump();
    followTray();
#endif
  }

#ifdef OLVARO_HAVE_GIO
  void desktopNotify(uint64_t key, const DesktopNote& note) override {
    if (!notifier_) notifier_ = std::make_unique<DesktopNotifier>([this] { raise(); });
    notifier_->show(key, note);
  }

  // The program's item in the desktop's tray follows the shell's tray
  // icon: there while no window of the program shows, and looking as the
  // icon's look says.
  void followTray() {
    uint64_t look = 0;
    bool wanted = shell::desktopTrayWanted(&look);
    if (wanted && (!trayShown_ || look != trayLook_)) {
      DesktopTrayItem item;
      if (!shellDesktopTray(&item)) return;
      if (!tray_)
        tray_ = std::make_unique<DesktopTray>(
            [this](const DesktopTrayItem& clicked) {
              // As a tap on the icon, and the window comes forward.
              if (clicked.callback && IsWindow(clicked.hwnd)) {
                PostMessage(clicked.hwnd, clicked.callback, clicked.id, WM_LBUTTONDOWN);
                PostMessage(clicked.hwnd, clicked.callback, clicked.id, WM_LBUTTONUP);
              }
              raise();
            },
            [] {
              if (!requestEnd()) PostQuitMessage(0);
            });
      tray_->show(item);
      trayShown_ = true;
      trayLook_ = look;
    } else if (!wanted && trayShown_) {
      tray_->hide();
      trayShown_ = false;
    }
    if (tray_) tray_->pump();
  }

  void raise() {
    SDL_ShowWindow(window_);
    SDL_RestoreWindow(window_);
    SDL_RaiseWindow(window_);
  }
  void desktopNotifyClose(uint64_t key) override {
    if (notifier_) notifier_->close(key);
  }
#endif
  bool desktopFocused() const override {
    return window_ && (SDL_GetWindowFlags(window_) & SDL_WINDOW_INPUT_FOCUS) != 0;
  }

 private:
  static SDL_AudioSpec specOf(const AudioFormat& f) {
    SDL_AudioSpec spec{};
    spec.freq = f.samplesPerSecond;
    spec.format = f.bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    spec.channels = Uint8(f.channels);
    spec.samples = 512;
    return spec;
  }
  static SDL_AudioDeviceID openAudio(const AudioFormat& f, int capture) {
    if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    SDL_AudioSpec want = specOf(f);
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, capture, &want, nullptr, 0);
    if (id) SDL_PauseAudioDevice(id, 0);
    return id;
  }
  // On SDL's audio thread, the device locked: silence, and every stream's
  // next stretch mixed in.
  static void SDLCALL mix(void* user, Uint8* out, int len) {
    auto* self = static_cast<SdlBackend*>(user);
    SDL_memset(out, self->outSpec_.silence, size_t(len));
    len = std::min(len, int(self->mixBuffer_.size()));
    for (auto& [id, stream] : self->streams_) {
      int got = SDL_AudioStreamGet(stream, self->mixBuffer_.data(), len);
      if (got > 0) SDL_MixAudioFormat(out, self->mixBuffer_.data(), self->outSpec_.format, Uint32(got), SDL_MIX_MAXVOLUME);
    }
  }
  // Runs `f` on an open output's stream, the callback held off.
  template <class F>
  void withStream(int stream, F f) {
    std::lock_guard<std::mutex> g(outLock_);
    if (!out_) return;
    SDL_LockAudioDevice(out_);
    auto it = streams_.find(stream);
    if (it != streams_.end()) f(it->second);
    SDL_UnlockAudioDevice(out_);
  }
  void closeSpeaker() {
    if (out_) SDL_CloseAudioDevice(out_);
    out_ = 0;
    for (auto& [id, stream] : streams_) SDL_FreeAudioStream(stream);
    streams_.clear();
    rates_.clear();
  }
  std::mutex outLock_;  // opening, feeding and closing outputs come from several threads
  SDL_AudioDeviceID out_ = 0;
  SDL_AudioSpec outSpec_{};
  std::map<int, SDL_AudioStream*> streams_;  // what the callback reads: changed with the device locked
  std::map<int, int> rates_;                 // each output's own rate
  std::vector<Uint8> mixBuffer_;
  int nextStream_ = 1;
  SDL_AudioDeviceID in_ = 0;
  POINT toScreen(int x, int y) const { return POINT{x / scale_, y / scale_}; }

  void handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:
        // Closing the window ends the program as its own Exit would; a
        // program that named no end target just leaves its loop.
        if (!requestEnd()) PostQuitMessage(0);
        break;
      case SDL_WINDOWEVENT:
        dirty_ = true;
        break;
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        bool down = e.type == SDL_KEYDOWN;
        SDL_Keycode k = e.key.keysym.sym;
        bool ctrl = (e.key.keysym.mod & KMOD_CTRL) != 0;
        if (ctrl && down && k >= SDLK_a && k <= SDLK_z) {
          inputChar(WCHAR(k - SDLK_a + 1));  // Ctrl+A .. Ctrl+Z as control characters
          break;
        }
        // Letters and digits come as text; the keys that have no text go
        // as keys.
        // The soft keys and Back go to the shell first (again in inputKey
        // when the window system asks it too; the answer is the same).
        if (UINT vk = virtualKey(k))
          if (!shell::softKeyFilter(vk, down)) inputKey(vk, down);
        break;
      }
      case SDL_TEXTINPUT: {
        std::u16string text = widen(e.text.text);
        for (char16_t c : text)
          if (c != u' ') inputChar(c);  // space comes from its key
        break;
      }
      case SDL_MOUSEBUTTONDOWN: {
        POINT p = toScreen(e.button.x, e.button.y);
        inputStylusDown(p.x, p.y);
        if (e.button.button == SDL_BUTTON_RIGHT) {
          // The right button is a press held long enough to count.
          rightDownAt_ = clockMonotonicMs();
          rightAt_ = p;
        }
        break;
      }
      case SDL_MOUSEBUTTONUP: {
        POINT p = toScreen(e.button.x, e.button.y);
        if (e.button.button == SDL_BUTTON_RIGHT) {
          rightUpPending_ = true;
          rightAt_ = p;
        } else {
          inputStylusUp(p.x, p.y);
        }
        break;
      }
      case SDL_MOUSEMOTION: {
        POINT p = toScreen(e.motion.x, e.motion.y);
        inputStylusMove(p.x, p.y);
        break;
      }
      case SDL_MOUSEWHEEL: {
        int x, y;
        SDL_GetMouseState(&x, &y);
        POINT p = toScreen(x, y);
        inputWheel(p.x, p.y, e.wheel.y * WHEEL_DELTA);
        break;
      }
    }
  }

  void draw() {
    cairo_surface_t* s = screen::surface();
    cairo_surface_flush(s);
    const unsigned char* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    if (!data || cairo_image_surface_get_width(s) != width_ || cairo_image_surface_get_height(s) != height_) return;
    SDL_UpdateTexture(texture_, nullptr, data, stride);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int width_ = 0, height_ = 0, scale_ = 1;
  std::atomic<bool> dirty_{false};
  SDL_threadID owner_ = SDL_ThreadID();
#ifdef OLVARO_HAVE_GIO
  std::unique_ptr<DesktopNotifier> notifier_;
  std::unique_ptr<DesktopTray> tray_;
  bool trayShown_ = false;
  uint64_t trayLook_ = 0;
#endif
  bool rightUpPending_ = false;
  int64_t rightDownAt_ = 0;
  POINT rightAt_{};
};

std::unique_ptr<DeviceBackend> makeSdl() {
  auto b = std::make_unique<SdlBackend>();
  if (!b->open()) return nullptr;
  return b;
}

const bool g_registered = [] {
  screenRegisterBackend("sdl", makeSdl);
  const char* chosen = std::getenv("OLVARO_BACKEND");
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!chosen || !*chosen) && ((x11 && *x11) || (wayland && *wayland))) setenv("OLVARO_BACKEND", "sdl", 0);
  return true;
}();

}  // namespace
}  // namespace platform

#endif  // OLVARO_HAVE_SDL2
