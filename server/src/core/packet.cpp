#include "packet.h"

#include <charconv>
#include <climits>

namespace olvaro::server {

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return r;
}

int64_t parse_atoi(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    int64_t v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        int d = s[i] - '0';
        if (v > (INT64_MAX - d) / 10) return neg ? INT64_MIN : INT64_MAX;
        v = v * 10 + d;
    }
    return neg ? -v : v;
}

uint64_t parse_id(std::string_view s) {
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') break;
        v = v * 10 + uint64_t(c - '0');
    }
    return v;
}

Packet& Packet::set(std::string_view name, std::string value) {
    std::string key = lower(name);
    // A line feed or carriage return would end the line early on the reader's side.
    for (char& c : value)
        if (c == '\n' || c == '\r') c = ' ';
    headers[std::move(key)] = std::move(value);
    return *this;
}

Packet& Packet::set_int(std::string_view name, int64_t value) { return set(name, std::to_string(value)); }
Packet& Packet::set_id(std::string_view name, uint64_t value) { return set(name, std::to_string(value)); }

const std::string& Packet::get(std::string_view name) const {
    static const std::string empty;
    auto it = headers.find(lower(name));
    return it == headers.end() ? empty : it->second;
}

bool Packet::has(std::string_view name) const { return headers.find(lower(name)) != headers.end(); }

int32_t Packet::get_int(std::string_view name) const {
    int64_t v = parse_atoi(get(name));
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

uint64_t Packet::get_id(std::string_view name) const { return parse_id(get(name)); }

void Packet::serialize_to(std::string& out) const {
    static const std::string kLength = "content-length";
    out += command;
    out += '\n';
    bool length_due = !body.empty();
    auto write_length = [&] {
        out += kLength;
        out += ": ";
        out += std::to_string(body.size());
        out += '\n';
        length_due = false;
    };
    for (const auto& [name, value] : headers) {
        if (name == kLength) continue;  // the body decides it
        if (length_due && name > kLength) write_length();
        if (value.empty()) continue;
        out += name;
        out += ": ";
        out += value;
        out += '\n';
    }
    if (length_due) write_length();
    out += '\n';
    out += body;
}

std::string Packet::serialize() const {
    std::string out;
    serialize_to(out);
    return out;
}

bool PacketReader::take_line(std::string_view& line, bool& error) {
    size_t from = scan_ > pos_ ? scan_ : pos_;
    size_t lf = buf_.find('\n', from);
    if (lf == std::string::npos) {
        scan_ = buf_.size();
        error = buf_.size() - pos_ > limits_.max_line;
        return false;
    }
    if (lf - pos_ > limits_.max_line) {
        error = true;
        return false;
    }
    line = std::string_view(buf_).substr(pos_, lf - pos_);
    size_t cr = line.rfind('\r');
    if (cr != std::string_view::npos) line = line.substr(0, cr);
    pos_ = lf + 1;
    scan_ = pos_;
    return true;
}

PacketReader::Step PacketReader::step() {
    for (;;) {
        switch (state_) {
        case State::Command: {
            std::string_view line;
            bool error = false;
            if (!take_line(line, error)) return error ? Step::Error : Step::NeedMore;
            packet_.command.assign(line);
            header_count_ = 0;
            state_ = State::Headers;
            break;
        }
        case State::Headers: {
            std::string_view line;
            bool error = false;
            if (!take_line(line, error)) return error ? Step::Error : Step::NeedMore;
            if (line.empty()) {
                int64_t n = parse_atoi(packet_.get("content-length"));
                if (n < 0 || uint64_t(n) > limits_.max_body) return Step::Error;
                body_len_ = size_t(n);
                if (body_len_ == 0) {
                    state_ = State::Command;
                    return Step::Packet;
                }
                packet_.body.reserve(body_len_);
                state_ = State::Body;
                break;
            }
            // Lines without a colon are skipped but still count, so a stream
            // of them cannot hold the connection forever.
            if (++header_count_ > limits_.max_headers) return Step::Error;
            size_t colon = line.find(':');
            if (colon == std::string_view::npos) break;
            std::string_view value = line.substr(colon + 1);
            if (!value.empty() && value[0] == ' ') value.remove_prefix(1);
            packet_.headers[lower(line.substr(0, colon))] = std::string(value);
            break;
        }
        case State::Body: {
            size_t want = body_len_ - packet_.body.size();
            size_t have = buf_.size() - pos_;
            size_t take = want < have ? want : have;
            packet_.body.append(buf_, pos_, take);
            pos_ += take;
            scan_ = pos_;
            if (packet_.body.size() < body_len_) return Step::NeedMore;
            state_ = State::Command;
            return Step::Packet;
        }
        }
    }
}

}  // namespace olvaro::server
