// The "sdl" backend: the device screen in a real window. F1 and F2 are the
// soft keys, Escape is Back, Enter the action key; the left mouse button is
// the stylus, the right button (or a long press) is tap-and-hold; typed
// text arrives as characters; the clipboard is the desktop's.
//
// OLVARO_SDL_SCALE (1 to 4) scales the window for large desktops. When a
// display is there and OLVARO_BACKEND is not set, the library sets it to
// "sdl", so screenSelectBackend() picks this backend.
#ifdef OLVARO_HAVE_SDL2

#include <SDL.h>
#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "phoneshell_internal.h"
#include "platform/clock.h"
#include "platform/end_request.h"
#include "platform/screen.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window.h"
#include "screen_internal.h"

namespace platform {
namespace {

int scaleFromEnvironment() {
  const char* s = std::getenv("OLVARO_SDL_SCALE");
  int v = s ? std::atoi(s) : 1;
  return std::clamp(v, 1, 4);
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
    setClipboardBackend(nullptr, nullptr);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    audioOutClose();
    audioInClose();
    if (SDL_WasInit(SDL_INIT_AUDIO)) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  // The desktop's speaker and microphone: queued audio, no callbacks, so
  // the wave driver pushes and pulls at its own pace.
  bool audioOutOpen(const AudioFormat& f) override {
    audioOutClose();
    out_ = openAudio(f, 0);
    return out_ != 0;
  }
  size_t audioOutPlay(const void* data, size_t bytes) override {
    if (out_) SDL_QueueAudio(out_, data, Uint32(bytes));
    return bytes;
  }
  void audioOutClose() override {
    if (out_) SDL_CloseAudioDevice(out_);
    out_ = 0;
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
    scale_ = scaleFromEnvironment();
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
  }

 private:
  static SDL_AudioDeviceID openAudio(const AudioFormat& f, int capture) {
    if (!SDL_WasInit(SDL_INIT_AUDIO) && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    SDL_AudioSpec want{};
    want.freq = f.samplesPerSecond;
    want.format = f.bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = Uint8(f.channels);
    want.samples = 512;
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, capture, &want, nullptr, 0);
    if (id) SDL_PauseAudioDevice(id, 0);
    return id;
  }
  SDL_AudioDeviceID out_ = 0;
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
