// Fonts and text on pango: DrawText, ExtTextOut, measuring and metrics.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "gdi_internal.h"
#include "platform/bitmap.h"
#include "platform/screen.h"
#include "platform/window.h"
#include "shell_font.h"

namespace platform::gdi {
namespace {

// Pango objects are not shared between threads: each thread that draws text
// has its own context and a layout it reuses.
struct TextThread {
  PangoContext* ctx = nullptr;
  PangoLayout* layout = nullptr;
  TextThread() {
    ctx = pango_font_map_create_context(pango_cairo_font_map_get_default());
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(ctx, fo);
    cairo_font_options_destroy(fo);
    layout = pango_layout_new(ctx);
  }
  ~TextThread() {
    g_object_unref(layout);
    g_object_unref(ctx);
  }
};

TextThread& TT() {
  thread_local TextThread t;
  return t;
}

// UTF-16 to UTF-8; `offsets` gets, for every UTF-16 unit, the byte offset of
// its character. Lone surrogates become U+FFFD.
std::string toUtf8(std::u16string_view s, std::vector<int>* offsets = nullptr) {
  std::string out;
  out.reserve(s.size());
  if (offsets) offsets->assign(s.size() + 1, 0);
  for (size_t i = 0; i < s.size(); ++i) {
    if (offsets) (*offsets)[i] = int(out.size());
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      if (offsets) (*offsets)[i + 1] = int(out.size());
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    } else if (c == 0) {
      c = 0xFFFD;  // pango stops at NUL
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  if (offsets) (*offsets)[s.size()] = int(out.size());
  return out;
}

std::u16string_view view(LPCWSTR text, int count) {
  if (!text) return {};
  if (count < 0) {
    size_t n = 0;
    while (text[n]) ++n;
    return std::u16string_view(text, n);
  }
  return std::u16string_view(text, size_t(count));
}

PangoFontDescription* describe(const LOGFONT& lf, int emPx) {
  std::u16string face;
  for (int i = 0; i < LF_FACESIZE && lf.lfFaceName[i]; ++i) face += lf.lfFaceName[i];
  std::string family = face.empty() ? "Tahoma" : toUtf8(face);
  // Faces the machine lacks (Tahoma) fall back through fontconfig.
  family += ",Tahoma,DejaVu Sans,sans-serif";
  PangoFontDescription* d = pango_font_description_new();
  pango_font_description_set_family(d, family.c_str());
  int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::clamp<int>(lf.lfWeight, 100, 1000);
  pango_font_description_set_weight(d, PangoWeight(weight));
  pango_font_description_set_style(d, lf.lfItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_font_description_set_absolute_size(d, double(std::max(1, emPx)) * PANGO_SCALE);
  return d;
}

void prepare(PangoLayout* L, FontObject* f, const std::string& utf8, int underlineFrom, int underlineTo) {
  pango_layout_set_font_description(L, f->desc);
  PangoAttrList* attrs = pango_attr_list_new();
  if (f->lf.lfUnderline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  if (f->lf.lfStrikeOut) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
  if (underlineFrom >= 0) {
    PangoAttribute* a = pango_attr_underline_new(PANGO_UNDERLINE_SINGLE);
    a->start_index = guint(underlineFrom);
    a->end_index = guint(underlineTo);
    pango_attr_list_insert(attrs, a);
  }
  pango_layout_set_attributes(L, attrs);
  pango_attr_list_unref(attrs);
  pango_layout_set_text(L, utf8.data(), int(utf8.size()));
  pango_layout_set_single_paragraph_mode(L, FALSE);
  pango_layout_set_width(L, -1);
  pango_layout_set_height(L, -1);
  pango_layout_set_ellipsize(L, PANGO_ELLIPSIZE_NONE);
  pango_layout_set_wrap(L, PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(L, PANGO_ALIGN_LEFT);
}

FontObject* fontFor(DC* dc) {
  FontObject* f = fontOf(dc->font);
  if (!f) f = defaultFont();
  ensureMetrics(f);
  return f;
}

}  // namespace

FontObject::~FontObject() {
  if (desc) pango_font_description_free(desc);
}

void ensureMetrics(FontObject* f) {
  if (f->measured) return;
  PangoFontMetrics* m = pango_context_get_metrics(TT().ctx, f->desc, nullptr);
  f->ascent = (pango_font_metrics_get_ascent(m) + PANGO_SCALE - 1) / PANGO_SCALE;
  f->descent = (pango_font_metrics_get_descent(m) + PANGO_SCALE - 1) / PANGO_SCALE;
  f->avgWidth = std::max(1, pango_font_metrics_get_approximate_char_width(m) / PANGO_SCALE);
  f->maxWidth = std::max(f->avgWidth, pango_font_metrics_get_approximate_digit_width(m) * 2 / PANGO_SCALE);
  pango_font_metrics_unref(m);
  f->measured = true;
}

HFONT createShellFont(int pixelHeight, LONG weight) {
  LOGFONT lf{};
  lf.lfHeight = -pixelHeight;
  lf.lfWeight = weight;
  const char16_t face[] = u"Tahoma";
  std::copy(std::begin(face), std::end(face), lf.lfFaceName);
  return CreateFontIndirect(&lf);
}

FontObject* defaultFont() {
  static FontObject* f = [] {
    auto* font = static_cast<FontObject*>(createShellFont(std::max(8, (platform::screenDpi() * 8 + 36) / 72), FW_NORMAL));
    platform::markStockObject(font);
    return font;
  }();
  return f;
}

}  // namespace platform::gdi

using namespace platform;
using namespace platform::gdi;

HFONT CreateFontIndirect(const LOGFONT* lf) {
  if (!lf) return nullptr;
  auto* f = new FontObject;
  f->lf = *lf;
  int em;
  if (lf->lfHeight < 0) {
    em = -lf->lfHeight;
  } else if (lf->lfHeight == 0) {
    em = std::max(8, (platform::screenDpi() * 8 + 36) / 72);
  } else {
    // A positive height is the cell (ascent + descent): find the character
    // height that gives it.
    PangoFontDescription* probe = describe(*lf, 100);
    PangoFontMetrics* m = pango_context_get_metrics(TT().ctx, probe, nullptr);
    double cell = double(pango_font_metrics_get_ascent(m) + pango_font_metrics_get_descent(m)) / PANGO_SCALE;
    pango_font_metrics_unref(m);
    pango_font_description_free(probe);
    em = cell > 0 ? int(std::lround(lf->lfHeight * 100.0 / cell)) : lf->lfHeight;
  }
  f->emPx = std::clamp(em, 1, 2000);
  f->desc = describe(*lf, f->emPx);
  return f;
}

int DrawText(HDC hdc, LPCWSTR text, int count, LPRECT rect, UINT fmt) {
  DC* dc = dcOf(hdc);
  if (!dc || !rect || !text) return 0;
  FontObject* f = fontFor(dc);
  std::u16string_view src = view(text, count);

  // '&' marks the next character as a mnemonic (underlined); "&&" is '&'.
  std::u16string shown;
  int mnemonic = -1;
  if (fmt & DT_NOPREFIX) {
    shown.assign(src);
  } else {
    for (size_t i = 0; i < src.size(); ++i) {
      if (src[i] == u'&' && i + 1 < src.size()) {
        ++i;
        if (src[i] != u'&') mnemonic = int(shown.size());
      }
      shown += src[i];
    }
  }
  std::vector<int> offsets;
  std::string utf8 = toUtf8(shown, &offsets);
  int ulFrom = mnemonic >= 0 ? offsets[size_t(mnemonic)] : -1;
  int ulTo = mnemonic >= 0 ? offsets[size_t(mnemonic) + 1] : -1;

  PangoLayout* L = TT().layout;
  prepare(L, f, utf8, ulFrom, ulTo);
  int rw = rect->right - rect->left, rh = rect->bottom - rect->top;
  bool single = fmt & DT_SINGLELINE;
  bool wrap = !single && (fmt & DT_WORDBREAK);
  bool calc = fmt & DT_CALCRECT;
  UINT ell = fmt & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS);
  pango_layout_set_single_paragraph_mode(L, single);
  bool widthSet = false;
  if (wrap) {
    pango_layout_set_width(L, std::max(1, rw) * PANGO_SCALE);
    widthSet = true;
  }
  if (ell && !calc) {
    pango_layout_set_width(L, std::max(1, rw) * PANGO_SCALE);
    pango_layout_set_ellipsize(L, (fmt & DT_PATH_ELLIPSIS) ? PANGO_ELLIPSIZE_MIDDLE : PANGO_ELLIPSIZE_END);
    if (wrap) pango_layout_set_height(L, std::max(1, rh) * PANGO_SCALE);
    widthSet = true;
  }
  if (!calc) {
    if (fmt & DT_CENTER) pango_layout_set_alignment(L, PANGO_ALIGN_CENTER);
    else if (fmt & DT_RIGHT) pango_layout_set_alignment(L, PANGO_ALIGN_RIGHT);
  }
  PangoRectangle logical;
  pango_layout_get_pixel_extents(L, nullptr, &logical);
  int textW = logical.width, textH = logical.height;

  if (calc) {
    rect->right = rect->left + (widthSet ? logical.x + logical.width : textW);
    rect->bottom = rect->top + textH;
    return textH;
  }

  int x = rect->left;
  if (!widthSet) {
    if (fmt & DT_CENTER) x += (rw - textW) / 2;
    else if (fmt & DT_RIGHT) x += rw - textW;
  }
  int y = rect->top;
  if (single && (fmt & DT_VCENTER)) y += (rh - textH) / 2;
  else if (single && (fmt & DT_BOTTOM)) y = rect->bottom - textH;

  cairo_t* cr = dc->cr;
  cairo_save(cr);
  if (!(fmt & DT_NOCLIP)) {
    cairo_rectangle(cr, rect->left, rect->top, std::max(0, rw), std::max(0, rh));
    cairo_clip(cr);
  }
  if (dc->bkMode == OPAQUE && textW > 0) {
    setColor(cr, dc->bk);
    cairo_rectangle(cr, x + logical.x, y, logical.width, textH);
    cairo_fill(cr);
  }
  setColor(cr, dc->text);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, L);
  cairo_restore(cr);
  if (single && (fmt & (DT_VCENTER | DT_BOTTOM))) return y - rect->top + textH;
  return textH;
}

BOOL ExtTextOut(HDC hdc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const int*) {
  DC* dc = dcOf(hdc);
  if (!dc) return FALSE;
  cairo_t* cr = dc->cr;
  if ((options & ETO_OPAQUE) && rect) {
    cairo_save(cr);
    setColor(cr, dc->bk);
    cairo_rectangle(cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    cairo_fill(cr);
    cairo_restore(cr);
  }
  if (!text || count == 0) return TRUE;
  FontObject* f = fontFor(dc);
  std::string utf8 = toUtf8(std::u16string_view(text, count));
  PangoLayout* L = TT().layout;
  prepare(L, f, utf8, -1, -1);
  pango_layout_set_single_paragraph_mode(L, TRUE);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(L, nullptr, &logical);
  cairo_save(cr);
  if ((options & ETO_CLIPPED) && rect) {
    cairo_rectangle(cr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
    cairo_clip(cr);
  }
  if (dc->bkMode == OPAQUE && !(options & ETO_OPAQUE)) {
    setColor(cr, dc->bk);
    cairo_rectangle(cr, x, y, logical.width, logical.height);
    cairo_fill(cr);
  }
  setColor(cr, dc->text);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, L);
  cairo_restore(cr);
  return TRUE;
}

BOOL GetTextExtentExPoint(HDC hdc, LPCWSTR text, int count, int maxExtent, int* fit, int* dx, SIZE* size) {
  DC* dc = dcOf(hdc);
  if (!dc || !text || count < 0) return FALSE;
  FontObject* f = fontFor(dc);
  std::vector<int> offsets;
  std::u16string_view s(text, size_t(count));
  std::string utf8 = toUtf8(s, &offsets);
  PangoLayout* L = TT().layout;
  prepare(L, f, utf8, -1, -1);
  pango_layout_set_single_paragraph_mode(L, TRUE);
  PangoRectangle logical;
  pango_layout_get_pixel_extents(L, nullptr, &logical);
  if (size) *size = SIZE{logical.width, std::max(logical.height, f->ascent + f->descent)};
  if (fit || dx) {
    PangoLayoutLine* line = pango_layout_get_line_readonly(L, 0);
    int n = 0;
    for (int i = 0; i < count; ++i) {
      int px = 0;
      if (line) {
        int xpos = 0;
        pango_layout_line_index_to_x(line, offsets[size_t(i)], TRUE, &xpos);
        px = (xpos + PANGO_SCALE / 2) / PANGO_SCALE;
      }
      if (dx) dx[i] = px;
      if (px <= maxExtent || maxExtent < 0) n = i + 1;
    }
    if (fit) *fit = n;
  }
  return TRUE;
}

BOOL GetTextExtentPoint32(HDC hdc, LPCWSTR text, int count, SIZE* size) {
  return GetTextExtentExPoint(hdc, text, count, -1, nullptr, nullptr, size);
}

BOOL GetTextMetrics(HDC hdc, TEXTMETRIC* tm) {
  DC* dc = dcOf(hdc);
  if (!dc || !tm) return FALSE;
  FontObject* f = fontFor(dc);
  *tm = TEXTMETRIC{};
  tm->tmAscent = f->ascent;
  tm->tmDescent = f->descent;
  tm->tmHeight = f->ascent + f->descent;
  tm->tmInternalLeading = std::max(0, tm->tmHeight - f->emPx);
  tm->tmExternalLeading = 0;
  tm->tmAveCharWidth = f->avgWidth;
  tm->tmMaxCharWidth = f->maxWidth;
  tm->tmWeight = f->lf.lfWeight ? f->lf.lfWeight : FW_NORMAL;
  tm->tmDigitizedAspectX = tm->tmDigitizedAspectY = platform::screenDpi();
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFFFC;
  tm->tmDefaultChar = u'?';
  tm->tmBreakChar = u' ';
  tm->tmItalic = f->lf.lfItalic;
  tm->tmUnderlined = f->lf.lfUnderline;
  tm->tmStruckOut = f->lf.lfStrikeOut;
  tm->tmCharSet = DEFAULT_CHARSET;
  return TRUE;
}
