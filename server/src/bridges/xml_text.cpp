#include "xml_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace olvaro::server {
namespace {

bool xml_allows(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string xml_safe_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // The C library's decoder reads one character at a time; its bytes are
    // kept when the character is well formed and allowed.
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return out;
    const char* in = text.data();
    size_t left = text.size();
    while (left > 0) {
        unsigned char first = static_cast<unsigned char>(*in);
        if (first < 0x80) {  // plain ASCII needs no decoder
            if (xml_allows(first)) out += char(first);
            ++in;
            --left;
            continue;
        }
        char wide[4];
        char* dst = wide;
        size_t room = sizeof wide;
        char* src = const_cast<char*>(in);
        size_t before = left;
        size_t rc = iconv(cd, &src, &left, &dst, &room);
        if (dst == wide + 4) {
            uint32_t c = uint32_t(uint8_t(wide[0])) | uint32_t(uint8_t(wide[1])) << 8 |
                         uint32_t(uint8_t(wide[2])) << 16 | uint32_t(uint8_t(wide[3])) << 24;
            if (xml_allows(c)) out.append(in, before - left);
            in = src;
            continue;
        }
        int error = rc == size_t(-1) ? errno : 0;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (error == EINVAL) break;  // cut short at the end: dropped
        // Not UTF-8: the byte goes, and reading starts again after it.
        ++in;
        left = before - 1;
    }
    iconv_close(cd);
    return out;
}

std::vector<std::string> text_parts(const std::string& text, size_t most) {
    if (most < 4) most = 4;
    std::vector<std::string> parts;
    size_t at = 0;
    do {
        size_t end = text.size();
        if (end - at > most) {
            end = at + most;
            while (end > at && continuation(text[end])) --end;
            size_t gap = text.find_last_of("\n ", end - 1);
            if (gap != std::string::npos && gap >= at + most / 2) end = gap + 1;
        }
        parts.push_back(text.substr(at, end - at));
        at = end;
    } while (at < text.size());
    return parts;
}

}  // namespace olvaro::server
