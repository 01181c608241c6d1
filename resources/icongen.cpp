// Draws the shared icons and writes them as ICO files: every icon at 16, 22
// and 32 pixels, each at 4 and 8 bits per pixel with a 1-bit mask. Shapes
// are given on a 32-unit grid and sampled at each pixel's centre, so one
// description serves every size.
//
// Also writes the shared new-message beep, BEEP.wav.
//
//   olvaro-icongen <output folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kClear = 0xFF000000;  // makes the pixel transparent

struct Canvas {
  int size;
  std::vector<uint32_t> px;  // 0x00RRGGBB, or kClear
  explicit Canvas(int n) : size(n), px(static_cast<size_t>(n) * n, kClear) {}
  // Paints every pixel whose centre, in grid units, passes `inside`.
  void fill(const std::function<bool(double, double)>& inside, uint32_t color) {
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        double gx = (x + 0.5) * 32.0 / size, gy = (y + 0.5) * 32.0 / size;
        if (inside(gx, gy)) px[static_cast<size_t>(y) * size + x] = color;
      }
  }
  void circle(double cx, double cy, double r, uint32_t c) {
    fill([=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; }, c);
  }
  void ellipse(double cx, double cy, double rx, double ry, uint32_t c) {
    fill([=](double x, double y) { return (x - cx) * (x - cx) / (rx * rx) + (y - cy) * (y - cy) / (ry * ry) <= 1; }, c);
  }
  void rect(double x0, double y0, double x1, double y1, uint32_t c) {
    fill([=](double x, double y) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }, c);
  }
  void roundRect(double x0, double y0, double x1, double y1, double r, uint32_t c) {
    fill(
        [=](double x, double y) {
          if (x < x0 || x > x1 || y < y0 || y > y1) return false;
          double dx = std::max({x0 + r - x, 0.0, x - (x1 - r)}), dy = std::max({y0 + r - y, 0.0, y - (y1 - r)});
          return dx * dx + dy * dy <= r * r;
        },
        c);
  }
  void polygon(const std::vector<std::pair<double, double>>& p, uint32_t c) {
    fill(
        [&](double x, double y) {
          bool in = false;
          for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
            if ((p[i].second > y) != (p[j].second > y) &&
                x < (p[j].first - p[i].first) * (y - p[i].second) / (p[j].second - p[i].second) + p[i].first)
              in = !in;
          }
          return in;
        },
        c);
  }
  // Pixels between two radii whose centre-relative angle passes `keep`.
  void ring(double cx, double cy, double r0, double r1, uint32_t c, const std::function<bool(double, double)>& keep) {
    fill(
        [=](double x, double y) {
          double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
          return d2 >= r0 * r0 && d2 <= r1 * r1 && keep(x - cx, y - cy);
        },
        c);
  }
  void line(double x0, double y0, double x1, double y1, double w, uint32_t c) {
    fill(
        [=](double x, double y) {
          double dx = x1 - x0, dy = y1 - y0, len2 = dx * dx + dy * dy;
          double t = len2 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0) : 0;
          double px = x0 + t * dx - x, py = y0 + t * dy - y;
          return px * px + py * py <= w * w / 4;
        },
        c);
  }
};

using Painter = std::function<void(Canvas&)>;

constexpr uint32_t kInk = 0x202020, kWhite = 0xFFFFFF, kGrey = 0xA0A0A0, kDark = 0x505050;

// A person: outline first, then the head and shoulders.
void person(Canvas& c, double cx, double scale, uint32_t body, uint32_t head) {
  auto s = [&](double v) { return v * scale; };
  c.ellipse(cx, 28, s(11.5), s(10.5), kInk);
  c.ellipse(cx, 28, s(10), s(9), body);
  c.circle(cx, 32 - s(22), s(6.5), kInk);
  c.circle(cx, 32 - s(22), s(5.2), head);
  c.rect(0, 31.5, 32, 32, kClear);
}

void speechBubble(Canvas& c, double x0, double y0, double x1, double y1, uint32_t fill, bool tailLeft) {
  double tx = tailLeft ? x0 + 4 : x1 - 4;
  c.polygon({{tx - 2.5, y1 - 1}, {tx + 2.5, y1 - 1}, {tailLeft ? tx - 3 : tx + 3, y1 + 5}}, kInk);
  c.roundRect(x0, y0, x1, y1, 4, kInk);
  c.roundRect(x0 + 1.3, y0 + 1.3, x1 - 1.3, y1 - 1.3, 3, fill);
  c.polygon({{tx - 1.3, y1 - 2}, {tx + 1.3, y1 - 2}, {tailLeft ? tx - 1.8 : tx + 1.8, y1 + 3}}, fill);
}

void appMark(Canvas& c, uint32_t fill) {
  speechBubble(c, 2, 3, 30, 24, fill, true);
  c.circle(16, 13.5, 6.5, kInk);
  c.circle(16, 13.5, 4, fill);
}

struct Icon {
  const char* name;
  Painter paint;
};

std::vector<Icon> icons() {
  return {
      {"CONTACT", [](Canvas& c) { person(c, 16, 1.0, 0x3060D0, 0xF0C090); }},
      {"CONTACT_ONLINE", [](Canvas& c) { person(c, 16, 1.0, 0x20A020, 0xF0C090); }},
      {"CONTACT_BOT",
       [](Canvas& c) {
         c.line(16, 3, 16, 8, 1.6, kInk);
         c.circle(16, 3.5, 2.5, 0xE02020);
         c.rect(3, 13, 29, 19, kInk);  // ears
         c.roundRect(6, 7, 26, 27, 3, kInk);
         c.roundRect(7.5, 8.5, 24.5, 25.5, 2, 0xB0B0C0);
         c.rect(10, 12, 14.5, 16.5, 0x00C0FF);
         c.rect(17.5, 12, 22, 16.5, 0x00C0FF);
         c.rect(11, 20, 21, 22.5, kInk);
         c.rect(9, 27, 23, 31, kDark);
       }},
      {"CONTACT_PC",
       [](Canvas& c) {
         c.roundRect(2, 4, 30, 23, 1.5, kInk);
         c.rect(4.5, 6.5, 27.5, 20.5, 0x3070E0);
         c.rect(6, 8, 14, 10, 0xA0D0FF);
         c.rect(13, 23, 19, 27, kDark);
         c.roundRect(8, 26.5, 24, 30, 1, kInk);
       }},
      {"CONTACT_MOBILE",
       [](Canvas& c) {
         c.roundRect(9, 1, 23, 31, 3, kInk);
         c.roundRect(10.5, 2.5, 21.5, 29.5, 2, 0x808890);
         c.rect(12, 5, 20, 14, 0xB0F0B0);
         for (int row = 0; row < 3; ++row)
           for (int col = 0; col < 3; ++col) c.rect(12 + col * 3, 17 + row * 3.6, 14 + col * 3, 19 + row * 3.6, kWhite);
       }},
      {"OVERLAY_AWAY",
       [](Canvas& c) {
         c.circle(23, 23, 8.5, kInk);
         c.circle(23, 23, 7, 0xFFD020);
         c.circle(27.5, 19.5, 6.5, kClear);
         c.rect(0, 0, 32, 12, kClear);  // keep the moon in its corner
       }},
      {"OVERLAY_BUSY",
       [](Canvas& c) {
         c.circle(23, 23, 8.5, kInk);
         c.circle(23, 23, 7, 0xE01010);
         c.rect(17.5, 21, 28.5, 25, kWhite);
       }},
      {"GROUP",
       [](Canvas& c) {
         person(c, 21, 0.85, 0x8060C0, 0xE0B080);
         person(c, 12, 1.0, 0x3060D0, 0xF0C090);
       }},
      {"GROUP_CONTRACTED",
       [](Canvas& c) {
         c.polygon({{10, 5}, {25, 16}, {10, 27}}, kInk);
         c.polygon({{12, 9}, {21.5, 16}, {12, 23}}, 0x4080E0);
       }},
      {"GROUP_EXPANDED",
       [](Canvas& c) {
         c.polygon({{5, 10}, {27, 10}, {16, 25}}, kInk);
         c.polygon({{9, 12}, {23, 12}, {16, 21.5}}, 0x4080E0);
       }},
      {"CHEVERON_UP",
       [](Canvas& c) {
         c.line(5, 22, 16, 10, 5.5, kInk);
         c.line(16, 10, 27, 22, 5.5, kInk);
         c.line(5.5, 21.5, 16, 10.5, 3, 0x4080E0);
         c.line(16, 10.5, 26.5, 21.5, 3, 0x4080E0);
       }},
      {"MESSAGE_NONE", [](Canvas& c) { speechBubble(c, 3, 5, 29, 23, 0xE0E0E0, true); }},
      {"MESSAGE_UNREAD",
       [](Canvas& c) {
         speechBubble(c, 10, 2, 31, 17, 0x60A0FF, false);
         speechBubble(c, 1, 10, 22, 25, 0xFFE040, true);
         for (int i = 0; i < 3; ++i) c.circle(6.5 + i * 5, 17.5, 1.5, kInk);
       }},
      {"MISSINGARTWORK",
       [](Canvas& c) {
         c.rect(2, 2, 30, 30, kInk);
         c.rect(4, 4, 28, 28, 0xFF60FF);
         c.circle(16, 12, 6, kInk);
         c.circle(16, 12, 3, 0xFF60FF);
         c.rect(10, 12, 16, 15, 0xFF60FF);
         c.rect(14.5, 16, 17.5, 20, kInk);
         c.rect(14.5, 22.5, 17.5, 25.5, kInk);
       }},
      {"AA_ORVALO", [](Canvas& c) { appMark(c, 0xFF9020); }},
      {"ORVALO_GRAY", [](Canvas& c) { appMark(c, kGrey); }},
      {"ORVALO_YELLOW", [](Canvas& c) { appMark(c, 0xFFE020); }},
      {"DOWNLOAD",
       [](Canvas& c) {
         c.polygon({{11, 2}, {21, 2}, {21, 12}, {27, 12}, {16, 23}, {5, 12}, {11, 12}}, kInk);
         c.polygon({{12.5, 3.5}, {19.5, 3.5}, {19.5, 13.5}, {23.5, 13.5}, {16, 21}, {8.5, 13.5}, {12.5, 13.5}},
                   0x20B040);
         c.rect(3, 25, 29, 30, kInk);
         c.rect(4.5, 26.5, 27.5, 28.5, kGrey);
       }},
      // Plug-ins' own: message kinds, the overview tab, the bridged networks.
      {"PHOTO",
       [](Canvas& c) {
         c.rect(8, 5, 14, 9, kInk);
         c.roundRect(2, 8, 30, 28, 3, kInk);
         c.roundRect(3.5, 9.5, 28.5, 26.5, 2, 0x707880);
         c.circle(16, 18, 7, kInk);
         c.circle(16, 18, 5, 0x4090E0);
         c.circle(14, 16, 1.5, kWhite);
       }},
      {"TEXT_NOTE",
       [](Canvas& c) {
         c.rect(6, 2, 26, 30, kInk);
         c.rect(7.5, 3.5, 24.5, 28.5, kWhite);
         for (int i = 0; i < 5; ++i) c.rect(10, 8 + i * 4, i == 4 ? 17 : 22, 9.5 + i * 4, 0x606060);
       }},
      {"VOICE",
       [](Canvas& c) {
         c.polygon({{3, 11}, {9, 11}, {16, 4}, {16, 28}, {9, 21}, {3, 21}}, kInk);
         c.polygon({{4.5, 12.5}, {9.5, 12.5}, {14.5, 7.5}, {14.5, 24.5}, {9.5, 19.5}, {4.5, 19.5}}, 0x808890);
         auto right = [](double dx, double dy) { return dx > std::fabs(dy) * 0.8; };
         c.ring(16, 16, 5, 7.5, 0x2060C0, right);
         c.ring(16, 16, 10, 12.5, 0x2060C0, right);
       }},
      {"OVERVIEW",
       [](Canvas& c) {
         for (int i = 0; i < 3; ++i) {
           c.circle(7, 7 + i * 9, 3.5, kInk);
           c.circle(7, 7 + i * 9, 2.2, 0x20A020);
           c.rect(13, 5.5 + i * 9, 29, 8.5 + i * 9, kDark);
         }
       }},
      {"NET_MSN",
       [](Canvas& c) {
         c.ellipse(10, 11, 7, 8, 0x2080F0);
         c.ellipse(22, 11, 7, 8, 0x20B040);
         c.ellipse(11, 23, 6, 6, 0xF08020);
         c.ellipse(21, 23, 6, 6, 0xE03030);
         c.rect(15, 6, 17, 29, kInk);
       }},
      {"NET_YAHOO",
       [](Canvas& c) {
         c.circle(16, 16, 14.5, kInk);
         c.circle(16, 16, 13, 0x7020A0);
         c.line(10, 8, 16, 16, 3, kWhite);
         c.line(22, 8, 16, 16, 3, kWhite);
         c.line(16, 16, 16, 25, 3, kWhite);
       }},
      {"NET_AIM",
       [](Canvas& c) {
         c.circle(16, 16, 14.5, kInk);
         c.circle(16, 16, 13, 0xFFD020);
         c.circle(17, 8, 3, kInk);
         c.line(16, 12, 13, 20, 2.5, kInk);
         c.line(13, 20, 9, 26, 2.5, kInk);
         c.line(13, 20, 19, 25, 2.5, kInk);
         c.line(15, 14, 21, 16, 2.5, kInk);
       }},
      {"NET_GG",
       [](Canvas& c) {
         for (int i = 0; i < 8; ++i) {
           double a = i * 3.14159265 / 4;
           c.circle(16 + 10 * std::cos(a), 16 + 10 * std::sin(a), 4.5, 0xF0A000);
         }
         c.circle(16, 16, 8, kInk);
         c.circle(16, 16, 6.5, 0xFFE060);
       }},
      {"NET_ICQ",
       [](Canvas& c) {
         for (int i = 0; i < 7; ++i) {
           double a = i * 2 * 3.14159265 / 7 - 1.5708;
           c.circle(16 + 9.5 * std::cos(a), 16 + 9.5 * std::sin(a), 5.5, kInk);
           c.circle(16 + 9.5 * std::cos(a), 16 + 9.5 * std::sin(a), 4.2, i == 0 ? 0xE02020 : 0x30B030);
         }
         c.circle(16, 16, 4, 0xFFE040);
       }},
      {"NET_XMPP",
       [](Canvas& c) {
         c.circle(16, 12, 10.5, kInk);
         c.circle(16, 12, 9, 0xFFE040);
         c.rect(11, 20, 21, 29, kInk);
         c.rect(12.5, 21, 19.5, 27.5, kGrey);
         c.line(12.5, 24, 19.5, 24, 1, kInk);
       }},
  };
}

// The new-message beep: 150 ms of 880 Hz at 8000 samples/s, 16-bit mono.
bool writeBeep(const std::string& path) {
  const int rate = 8000, samples = 1200;
  std::vector<uint8_t> o;
  auto put16 = [&](unsigned v) { o.push_back(v & 255), o.push_back((v >> 8) & 255); };
  auto put32 = [&](uint32_t v) { for (int k = 0; k < 4; ++k) o.push_back((v >> (8 * k)) & 255); };
  o.insert(o.end(), {'R', 'I', 'F', 'F'});
  put32(36 + samples * 2);
  o.insert(o.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(16);
  put16(1);
  put16(1);
  put32(rate);
  put32(rate * 2);
  put16(2);
  put16(16);
  o.insert(o.end(), {'d', 'a', 't', 'a'});
  put32(samples * 2);
  for (int i = 0; i < samples; ++i) {
    double fade = std::min({1.0, i / 80.0, (samples - i) / 80.0});
    auto v = static_cast<int16_t>(std::lround(12000 * fade * std::sin(2 * 3.14159265358979 * 880 * i / rate)));
    put16(static_cast<uint16_t>(v));
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(o.data(), 1, o.size(), f) == o.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<uint32_t> palette(int bits) {
  std::vector<uint32_t> p = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                             0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  if (bits == 8) {
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) p.push_back(static_cast<uint32_t>((r * 51) << 16 | (g * 51) << 8 | (b * 51)));
    for (int i = 0; i < 24; ++i) {
      uint32_t v = static_cast<uint32_t>(8 + i * 10);
      p.push_back(v << 16 | v << 8 | v);
    }
  }
  return p;
}

int nearest(const std::vector<uint32_t>& pal, uint32_t c) {
  int best = 0;
  long bestD = -1;
  for (size_t i = 0; i < pal.size(); ++i) {
    long dr = static_cast<long>((pal[i] >> 16) & 255) - static_cast<long>((c >> 16) & 255);
    long dg = static_cast<long>((pal[i] >> 8) & 255) - static_cast<long>((c >> 8) & 255);
    long db = static_cast<long>(pal[i] & 255) - static_cast<long>(c & 255);
    long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (bestD < 0 || d < bestD) bestD = d, best = static_cast<int>(i);
  }
  return best;
}

void put16(std::vector<uint8_t>& o, unsigned v) {
  o.push_back(v & 255);
  o.push_back((v >> 8) & 255);
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
  for (int k = 0; k < 4; ++k) o.push_back((v >> (8 * k)) & 255);
}

// One DIB icon image: header, colour table, colour bits, AND mask.
std::vector<uint8_t> image(const Canvas& c, int bits) {
  std::vector<uint32_t> pal = palette(bits);
  int n = c.size;
  size_t stride = ((static_cast<size_t>(n) * bits + 31) / 32) * 4, mstride = ((static_cast<size_t>(n) + 31) / 32) * 4;
  std::vector<uint8_t> o;
  put32(o, 40);
  put32(o, static_cast<uint32_t>(n));
  put32(o, static_cast<uint32_t>(2 * n));
  put16(o, 1);
  put16(o, static_cast<unsigned>(bits));
  put32(o, 0);
  put32(o, static_cast<uint32_t>((stride + mstride) * n));
  put32(o, 0);
  put32(o, 0);
  put32(o, 0);
  put32(o, 0);
  for (uint32_t p : pal) {
    o.push_back(p & 255);
    o.push_back((p >> 8) & 255);
    o.push_back((p >> 16) & 255);
    o.push_back(0);
  }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(stride, 0);
    for (int x = 0; x < n; ++x) {
      uint32_t px = c.px[static_cast<size_t>(y) * n + x];
      int idx = px == kClear ? 0 : nearest(pal, px);
      if (bits == 8)
        row[x] = static_cast<uint8_t>(idx);
      else
        row[x / 2] |= static_cast<uint8_t>((x & 1) ? idx : idx << 4);
    }
    o.insert(o.end(), row.begin(), row.end());
  }
  for (int y = n - 1; y >= 0; --y) {
    std::vector<uint8_t> row(mstride, 0);
    for (int x = 0; x < n; ++x)
      if (c.px[static_cast<size_t>(y) * n + x] == kClear) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    o.insert(o.end(), row.begin(), row.end());
  }
  return o;
}

bool writeIco(const std::string& path, const Painter& paint) {
  std::vector<std::vector<uint8_t>> images;
  std::vector<std::pair<int, int>> formats;
  for (int size : {16, 22, 32})
    for (int bits : {4, 8}) {
      Canvas c(size);
      paint(c);
      images.push_back(image(c, bits));
      formats.emplace_back(size, bits);
    }
  std::vector<uint8_t> o;
  put16(o, 0);
  put16(o, 1);
  put16(o, static_cast<unsigned>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    o.push_back(static_cast<uint8_t>(formats[i].first));
    o.push_back(static_cast<uint8_t>(formats[i].first));
    o.push_back(formats[i].second == 4 ? 16 : 0);
    o.push_back(0);
    put16(o, 1);
    put16(o, static_cast<unsigned>(formats[i].second));
    put32(o, static_cast<uint32_t>(images[i].size()));
    put32(o, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (auto& img : images) o.insert(o.end(), img.begin(), img.end());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(o.data(), 1, o.size(), f) == o.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  for (const auto& icon : icons()) {
    std::string path = std::string(argv[1]) + "/" + icon.name + ".ico";
    if (!writeIco(path, icon.paint)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  if (!writeBeep(std::string(argv[1]) + "/BEEP.wav")) {
    std::fprintf(stderr, "cannot write the beep\n");
    return 1;
  }
  return 0;
}
