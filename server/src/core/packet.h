#pragma once
// Packets as they travel between client and server: a command line, header
// lines "name: value" and an optional body sized by "content-length".

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace olvaro::server {

class Packet {
public:
    Packet() = default;
    explicit Packet(std::string command) : command(std::move(command)) {}

    // Names are stored lower-cased, so they leave lower-cased and in byte
    // order; setting an empty value keeps the header off the wire.
    Packet& set(std::string_view name, std::string value);
    Packet& set_int(std::string_view name, int64_t value);
    Packet& set_id(std::string_view name, uint64_t value);

    const std::string& get(std::string_view name) const;
    bool has(std::string_view name) const;
    // atoi rules: leading white space, optional sign, digits; saturates.
    int32_t get_int(std::string_view name) const;
    // Leading digits only, as an unsigned 64-bit number.
    uint64_t get_id(std::string_view name) const;

    // Wire form; a non-empty body gets its "content-length" line.
    std::string serialize() const;
    void serialize_to(std::string& out) const;

    std::string command;
    std::map<std::string, std::string, std::less<>> headers;
    std::string body;
};

std::string lower(std::string_view s);
int64_t parse_atoi(std::string_view s);  // atoi rules, 64-bit, saturating
uint64_t parse_id(std::string_view s);

// Incremental reader. Bytes go in as they arrive; every complete packet is
// handed out in order. A line, header count or body beyond its bound, or a
// negative length, is a framing error: the caller closes the connection.
struct ReaderLimits {
    size_t max_line = 8192;
    size_t max_headers = 64;
    size_t max_body = 1 << 20;
};

class PacketReader {
public:
    using Limits = ReaderLimits;
    explicit PacketReader(Limits limits = {}) : limits_(limits) {}

    // Returns false on a framing error; `on_packet(Packet&)` returns false to
    // stop reading (the connection is going away).
    template <class F>
    bool feed(const char* data, size_t size, F&& on_packet);

    size_t buffered() const { return buf_.size() - pos_; }

private:
    enum class State { Command, Headers, Body };
    enum class Step { Packet, NeedMore, Error };
    Step step();

    bool take_line(std::string_view& line, bool& error);

    Limits limits_;
    std::string buf_;
    size_t pos_ = 0;   // first unconsumed byte
    size_t scan_ = 0;  // where the search for the next LF resumes
    State state_ = State::Command;
    size_t header_count_ = 0;
    size_t body_len_ = 0;
    Packet packet_;
};

template <class F>
bool PacketReader::feed(const char* data, size_t size, F&& on_packet) {
    buf_.append(data, size);
    for (;;) {
        Step s = step();
        if (s == Step::Error) return false;
        if (s == Step::NeedMore) break;
        Packet done = std::move(packet_);
        packet_ = Packet();
        if (!on_packet(done)) return true;
    }
    if (pos_ > 0) {
        buf_.erase(0, pos_);
        scan_ -= pos_;
        pos_ = 0;
    }
    return true;
}

}  // namespace olvaro::server
