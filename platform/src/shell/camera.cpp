// The camera dialog on a device without a camera: the pictures of the
// user's pictures folder stand in for what the lens sees. The dialog is
// modal like a message box; Left and Right step through the pictures,
// "Capture" (or the action key) saves the one shown as a JPEG of the size
// and quality asked for, "Cancel" (or Back) gives up.
#include "platform/camera.h"

#include <cairo.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "ascii.h"
#include "dc_selection.h"
#include "menu_internal.h"
#include "phoneshell_internal.h"
#include "platform/bitmap.h"
#include "platform/files.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/module.h"
#include "platform/phoneshell.h"
#include "platform/screen.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace platform::camera {
namespace {

// Top-down 0x00RRGGBB pixels.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
};

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};

void jpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1); }
// Warnings about damaged files are no one's business on a phone.
void jpegQuiet(j_common_ptr) {}

// Errors jump back to the caller's setjmp; nothing is printed.
jpeg_error_mgr* jpegErrors(JpegError& err) {
  jpeg_std_error(&err.mgr);
  err.mgr.error_exit = jpegFail;
  err.mgr.output_message = jpegQuiet;
  return &err.mgr;
}

// A damaged or foreign file gives an empty picture, never a crash.
Picture readJpeg(const std::string& path) {
  Picture pic;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return pic;
  jpeg_decompress_struct info{};
  JpegError err{};
  info.err = jpegErrors(err);
  std::vector<uint8_t> row;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    std::fclose(f);
    return Picture();
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, f);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  // Large photos are read at a fraction of their size: the dialog only
  // needs the screen's worth and the capture a small picture.
  info.scale_num = 1;
  info.scale_denom = 1;
  while (info.scale_denom < 8 && info.image_width / (info.scale_denom * 2) >= 640) info.scale_denom *= 2;
  jpeg_start_decompress(&info);
  if (info.output_components != 3 || info.output_width > 8192 || info.output_height > 8192) {
    jpeg_destroy_decompress(&info);
    std::fclose(f);
    return Picture();
  }
  pic.width = int(info.output_width);
  pic.height = int(info.output_height);
  pic.pixels.resize(size_t(pic.width) * size_t(pic.height));
  row.resize(size_t(pic.width) * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    int y = int(info.output_scanline);
    jpeg_read_scanlines(&info, rows, 1);
    uint32_t* out = &pic.pixels[size_t(y) * size_t(pic.width)];
    for (int x = 0; x < pic.width; ++x)
      out[x] = (uint32_t(row[size_t(x) * 3]) << 16) | (uint32_t(row[size_t(x) * 3 + 1]) << 8) | row[size_t(x) * 3 + 2];
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(f);
  return pic;
}

Picture readPng(const std::string& path) {
  Picture pic;
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    if (w > 0 && h > 0 && w <= 8192 && h <= 8192) {
      pic.width = w;
      pic.height = h;
      pic.pixels.resize(size_t(w) * size_t(h));
      // Transparent parts are shown over white, as a photo of them would be.
      cairo_surface_t* flat = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
      cairo_t* cr = cairo_create(flat);
      cairo_set_source_rgb(cr, 1, 1, 1);
      cairo_paint(cr);
      cairo_set_source_surface(cr, s, 0, 0);
      cairo_paint(cr);
      cairo_destroy(cr);
      cairo_surface_flush(flat);
      const uint8_t* data = cairo_image_surface_get_data(flat);
      int stride = cairo_image_surface_get_stride(flat);
      for (int y = 0; y < h; ++y) {
        const auto* src = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride));
        for (int x = 0; x < w; ++x) pic.pixels[size_t(y) * size_t(w) + size_t(x)] = src[x] & 0x00FFFFFF;
      }
      cairo_surface_destroy(flat);
    }
  }
  cairo_surface_destroy(s);
  return pic;
}

bool hasExtension(const std::u16string& name, const char16_t* ext) {
  std::u16string_view e(ext);
  return name.size() > e.size() && asciiEndsWithNoCase(name, e);
}

bool isPng(const std::u16string& name) { return hasExtension(name, u".png"); }

Picture readPicture(const std::u16string& path) {
  return isPng(path) ? readPng(nativePath(path)) : readJpeg(nativePath(path));
}

std::u16string picturesFolder() {
  WCHAR buf[MAX_PATH] = {};
  if (!SHGetSpecialFolderPath(nullptr, buf, CSIDL_MYPICTURES, TRUE)) return std::u16string();
  return buf;
}

std::vector<std::u16string> listPictures(const std::u16string& folder) {
  std::vector<std::u16string> found;
  WIN32_FIND_DATA fd{};
  HANDLE find = FindFirstFile((folder + u"/*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    std::u16string name = fd.cFileName;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (hasExtension(name, u".jpg") || hasExtension(name, u".jpeg") || isPng(name)) found.push_back(folder + u"/" + name);
  } while (FindNextFile(find, &fd));
  FindClose(find);
  return found;
}

// The middle of `src` cut to the aspect of width x height and scaled to it,
// each output pixel the mean of the source pixels it covers.
Picture cropAndScale(const Picture& src, int width, int height) {
  Picture out;
  out.width = width;
  out.height = height;
  out.pixels.resize(size_t(width) * size_t(height));
  double scale = std::min(double(src.width) / width, double(src.height) / height);
  double x0 = (src.width - width * scale) / 2, y0 = (src.height - height * scale) / 2;
  for (int y = 0; y < height; ++y) {
    int sy0 = int(y0 + y * scale), sy1 = std::max(sy0 + 1, int(y0 + (y + 1) * scale));
    sy1 = std::min(sy1, src.height);
    for (int x = 0; x < width; ++x) {
      int sx0 = int(x0 + x * scale), sx1 = std::max(sx0 + 1, int(x0 + (x + 1) * scale));
      sx1 = std::min(sx1, src.width);
      uint64_t r = 0, g = 0, b = 0, n = 0;
      for (int sy = sy0; sy < sy1; ++sy)
        for (int sx = sx0; sx < sx1; ++sx) {
          uint32_t p = src.pixels[size_t(sy) * size_t(src.width) + size_t(sx)];
          r += (p >> 16) & 0xFF;
          g += (p >> 8) & 0xFF;
          b += p & 0xFF;
          ++n;
        }
      if (n) out.pixels[size_t(y) * size_t(width) + size_t(x)] = uint32_t(((r / n) << 16) | ((g / n) << 8) | (b / n));
    }
  }
  return out;
}

int qualityOf(CAMERACAPTURE_STILLQUALITY q) {
  switch (q) {
    case CAMERACAPTURE_STILLQUALITY_LOW: return 50;
    case CAMERACAPTURE_STILLQUALITY_HIGH: return 92;
    default: return 75;
  }
}

bool writeJpeg(const std::string& path, const Picture& pic, int quality) {
  // Written to a fresh file of the user's alone (exclusive, 0600) and put in
  // place by a rename: whatever lay at the name, a link included, is
  // replaced and never written through.
  std::string part = path + ".XXXXXX";
  int fd = mkstemp(part.data());
  if (fd < 0) return false;
  FILE* f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    unlink(part.c_str());
    return false;
  }
  jpeg_compress_struct info{};
  JpegError err{};
  info.err = jpegErrors(err);
  std::vector<uint8_t> row(size_t(pic.width) * 3);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&info);
    std::fclose(f);
    unlink(part.c_str());
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, f);
  info.image_width = JDIMENSION(pic.width);
  info.image_height = JDIMENSION(pic.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    const uint32_t* in = &pic.pixels[size_t(info.next_scanline) * size_t(pic.width)];
    for (int x = 0; x < pic.width; ++x) {
      row[size_t(x) * 3] = uint8_t(in[x] >> 16);
      row[size_t(x) * 3 + 1] = uint8_t(in[x] >> 8);
      row[size_t(x) * 3 + 2] = uint8_t(in[x]);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  bool ok = std::fflush(f) == 0;
  ok = std::fclose(f) == 0 && ok;
  if (ok) ok = rename(part.c_str(), path.c_str()) == 0;
  if (!ok) unlink(part.c_str());
  return ok;
}

struct Dialog {
  std::vector<std::u16string> files;
  size_t current = 0;
  Picture shown;      // the current picture fitted to the window
  bool done = false;
  bool captured = false;
};

Dialog* g_dialog = nullptr;

void loadShown(HWND h, Dialog* d) {
  RECT rc;
  GetClientRect(h, &rc);
  d->shown = Picture();
  if (d->files.empty()) return;
  Picture full = readPicture(d->files[d->current]);
  if (full.width <= 0 || rc.right <= 0 || rc.bottom <= 0) return;
  double scale = std::min(double(rc.right) / full.width, double(rc.bottom) / full.height);
  int w = std::max(1, int(full.width * scale)), hgt = std::max(1, int(full.height * scale));
  d->shown = cropAndScale(full, w, hgt);
}

void paint(HWND h, Dialog* d) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  RECT rc;
  GetClientRect(h, &rc);
  HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
  FillRect(dc, &rc, black);
  DeleteObject(black);
  if (d->shown.width > 0) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = d->shown.width;
    bi.bmiHeader.biHeight = -d->shown.height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp && bits) {
      std::copy(d->shown.pixels.begin(), d->shown.pixels.end(), static_cast<uint32_t*>(bits));
      HDC mem = CreateCompatibleDC(dc);
      {
        gdi::DcSelection picture(mem, bmp);
        BitBlt(dc, (rc.right - d->shown.width) / 2, (rc.bottom - d->shown.height) / 2, d->shown.width, d->shown.height,
               mem, 0, 0, SRCCOPY);
      }
      DeleteDC(mem);
    }
    if (bmp) DeleteObject(bmp);
  }
  EndPaint(h, &ps);
}

void step(HWND h, Dialog* d, int by) {
  if (d->files.size() < 2) return;
  size_t n = d->files.size();
  d->current = (d->current + n + size_t(by + int(n))) % n;
  loadShown(h, d);
  InvalidateRect(h, nullptr, FALSE);
}

LRESULT CALLBACK dialogProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  Dialog* d = g_dialog;
  if (d) switch (msg) {
      case WM_PAINT:
        paint(h, d);
        return 0;
      case WM_ERASEBKGND:
        return 1;
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) d->captured = !d->files.empty();
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) d->done = true;
        return 0;
      case WM_CLOSE:
        d->done = true;
        return 0;
      case WM_GETDLGCODE:
        return DLGC_WANTALLKEYS;
    }
  return DefWindowProc(h, msg, wParam, lParam);
}

LPCWSTR dialogClass() {
  static bool once = [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = dialogProc;
    wc.lpszClassName = u"olvaro_camera";
    return RegisterClass(&wc) != 0;
  }();
  (void)once;
  return u"olvaro_camera";
}

bool filter(HWND h, Dialog* d, MSG& m) {
  if (m.message == WM_KEYDOWN) {
    switch (m.wParam) {
      case VK_LEFT: step(h, d, -1); break;
      case VK_RIGHT: step(h, d, 1); break;
      case VK_RETURN:
      case VK_TSOFT1:
        d->captured = !d->files.empty();
        d->done = true;
        break;
      case VK_ESCAPE:
      case VK_TSOFT2:
        d->done = true;
        break;
    }
    return true;
  }
  return m.message == WM_KEYUP || m.message == WM_CHAR;
}

bool validName(const std::u16string& name) {
  return !name.empty() && name != u"." && name != u".." && name.find_first_of(u"/\\") == std::u16string::npos;
}

// Shows the dialog; true when the user chose to capture, with the picture.
bool runDialog(HWND owner, std::vector<std::u16string> files, Picture* chosen) {
  Dialog d;
  d.files = std::move(files);
  RECT work = shellWorkArea();
  HWND app = owner && IsWindow(owner) ? shell::appWindowOf(owner) : nullptr;
  HWND prevActive = GetActiveWindow();
  HWND prevFocus = GetFocus();
  Dialog* outer = g_dialog;
  g_dialog = &d;
  HWND h = CreateWindowEx(WS_EX_TOPMOST, dialogClass(), u"Camera", WS_POPUP, work.left, work.top,
                          work.right - work.left, work.bottom - work.top, app, nullptr, nullptr, nullptr);
  if (!h) {
    g_dialog = outer;
    return false;
  }
  HMENU keys = CreatePopupMenu();
  AppendMenu(keys, MF_STRING | (d.files.empty() ? MF_GRAYED : 0), IDOK, u"Capture");
  AppendMenu(keys, MF_STRING, IDCANCEL, u"Cancel");
  SHMENUBARINFO mb{sizeof(SHMENUBARINFO), h, SHCMBF_HMENU, UINT(reinterpret_cast<uintptr_t>(keys)), nullptr, 0, 0, nullptr, 0};
  SHCreateMenuBar(&mb);
  DestroyMenu(keys);
  loadShown(h, &d);
  bool ownerWasEnabled = app && IsWindowEnabled(app);
  if (ownerWasEnabled) EnableWindow(app, FALSE);
  ShowWindow(h, SW_SHOW);
  SetFocus(h);
  UpdateWindow(h);
  menus::runModal(h, [&](MSG& m) { return filter(h, &d, m); }, [&] { return d.done || !IsWindow(h); });
  bool captured = d.done && d.captured;
  if (captured) *chosen = readPicture(d.files[d.current]);
  g_dialog = outer;
  if (IsWindow(h)) DestroyWindow(h);
  if (ownerWasEnabled && IsWindow(app)) EnableWindow(app, TRUE);
  if (prevActive && IsWindow(prevActive)) SetActiveWindow(prevActive);
  if (prevFocus && IsWindow(prevFocus)) SetFocus(prevFocus);
  return captured;
}

HRESULT capture(PSHCAMERACAPTURE request) {
  if (!request || request->cbSize != sizeof(SHCAMERACAPTURE) || request->Mode != CAMERACAPTURE_MODE_STILL ||
      unsigned(request->StillQuality) > CAMERACAPTURE_STILLQUALITY_HIGH || request->nResolutionWidth > 8192 ||
      request->nResolutionHeight > 8192 || (request->nResolutionWidth == 0) != (request->nResolutionHeight == 0))
    return E_INVALIDARG;
  std::u16string folder = request->pszInitialDir && *request->pszInitialDir ? request->pszInitialDir : picturesFolder();
  std::u16string name = request->pszDefaultFileName ? request->pszDefaultFileName : u"image.jpg";
  DWORD attributes = GetFileAttributes(folder.c_str());
  if (!validName(name) || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return E_INVALIDARG;
  while (folder.size() > 1 && (folder.back() == u'/' || folder.back() == u'\\')) folder.pop_back();
  std::u16string path = folder + u"/" + name;
  if (path.size() >= MAX_PATH) return E_INVALIDARG;
  request->szFile[0] = 0;
  try {
    std::vector<std::u16string> files = listPictures(picturesFolder());
    Picture chosen;
    if (!runDialog(request->hwndOwner, std::move(files), &chosen)) return S_FALSE;
    if (chosen.width <= 0) return E_FAIL;
    Picture out = request->nResolutionWidth
                      ? cropAndScale(chosen, int(request->nResolutionWidth), int(request->nResolutionHeight))
                      : chosen;
    if (!writeJpeg(nativePath(path), out, qualityOf(request->StillQuality))) return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  std::copy(path.begin(), path.end(), request->szFile);
  request->szFile[path.size()] = 0;
  return S_OK;
}

const bool g_registered = [] {
  registerShellExport("SHCameraCapture", reinterpret_cast<FARPROC>(&SHCameraCapture));
  return true;
}();

}  // namespace
}  // namespace platform::camera

HRESULT SHCameraCapture(PSHCAMERACAPTURE request) { return platform::camera::capture(request); }

namespace platform {

std::u16string cameraShownPicture() {
  camera::Dialog* d = camera::g_dialog;
  return d && !d->files.empty() ? d->files[d->current] : std::u16string();
}

}  // namespace platform
