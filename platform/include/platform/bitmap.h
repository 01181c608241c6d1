// Bitmaps and icons as objects, and loading icons from a module's icon
// groups. Drawing them on a screen is the drawing calls' business (gdi.h).
#pragma once

#include "platform/resources.h"

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
};
typedef ICONINFO* PICONINFO;

#define BI_RGB 0
#define DIB_RGB_COLORS 0
#define IMAGE_BITMAP 0
#define IMAGE_ICON 1
#define LR_DEFAULTCOLOR 0x0000
#define LR_LOADFROMFILE 0x0010
#define LR_DEFAULTSIZE 0x0040

// Bits are rows padded to 16 bits, top-down, as for Win32 device bitmaps;
// 1, 24 and 32 bits per pixel are read (1 = white for monochrome), other
// depths start black. NULL bits give a black bitmap.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits);
// 32 bits per pixel only: the returned bits ARE the bitmap's pixels (blue,
// green, red, unused per pixel); a negative height gives top-down rows, a
// positive one bottom-up rows. Other depths fail with
// ERROR_INVALID_PARAMETER.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);
// Fills a BITMAP for a bitmap object; the result is the bytes written.
int GetObject(HGDIOBJ object, int size, LPVOID out);
// Deletes any drawing object (bitmap, brush, pen, font, region). Stock
// objects are left alone.
BOOL DeleteObject(HGDIOBJ object);

// The icon copies the bitmaps; the caller still deletes them. A colour
// bitmap is required (monochrome two-part icons are not offered).
HICON CreateIconIndirect(PICONINFO info);
// New bitmaps of the icon's colour and mask (mask white = transparent);
// the caller deletes them.
BOOL GetIconInfo(HICON icon, PICONINFO info);
BOOL DestroyIcon(HICON icon);

// The group's image closest to the icon size (32), best depth first.
HICON LoadIcon(HINSTANCE module, LPCWSTR name);
// IMAGE_ICON only: the group's image whose size is closest to cx x cy
// (exact size wins, then the greater depth), scaled to that size when none
// is exact. 0 sizes mean 32 (LR_DEFAULTSIZE) or the image's own size.
HANDLE LoadImage(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags);

namespace platform {

// Marks an object that DeleteObject must not delete (stock objects).
void markStockObject(HGDIOBJ object);

}  // namespace platform
