#include "http_message.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace updates {

std::string serializeRequest(const HttpMessage& request) {
  std::string out = request.startLine + "\n";
  for (const auto& [name, value] : request.headers) {
    if (value.empty()) continue;
    std::string lower = name;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    out += lower + ": " + value + "\n";
  }
  out += "\n";
  out += request.body;
  return out;
}

std::string requestBody(const std::vector<ModuleStamp>& modules, const std::string& platform, long language,
                        long subid) {
  std::string body = "<?xml version='1.0'?>\n<root>";
  for (const ModuleStamp& m : modules) {
    if (!m.build) continue;
    body += "<file><name>" + m.name + "</name><build>" + std::to_string(m.build) + "</build></file>";
  }
  body += "<platform><name>" + platform.substr(0, 32) + "</name><language>" + std::to_string(language) +
          "</language></platform>";
  body += "<user><subid>" + std::to_string(subid) + "</subid></user></root>";
  return body;
}

size_t ResponseReader::feed(const char* data, size_t size) {
  size_t i = 0;
  while (i < size && state_ == State::Head) {
    const char* lf = static_cast<const char*>(std::memchr(data + i, '\n', size - i));
    size_t take = lf ? size_t(lf - (data + i)) : size - i;
    if (line_.size() + take > kMaxLine) {
      state_ = State::Failed;
      return i;
    }
    line_.append(data + i, take);
    i += take;
    if (!lf) return i;
    ++i;
    std::string line;
    line.swap(line_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    headerLine(std::move(line));
  }
  if (state_ == State::Body) {
    size_t take = std::min(size - i, expected_ - message_.body.size());
    message_.body.append(data + i, take);
    i += take;
    if (message_.body.size() == expected_) state_ = State::Complete;
  } else if (state_ == State::UntilClose) {
    if (message_.body.size() + (size - i) > kMaxBody) {
      state_ = State::Failed;
      return i;
    }
    message_.body.append(data + i, size - i);
    i = size;
  }
  return i;
}

void ResponseReader::headerLine(std::string line) {
  if (!sawStart_) {
    message_.startLine = std::move(line);
    sawStart_ = true;
    return;
  }
  if (line.empty()) {
    auto it = message_.headers.find("content-length");
    if (it == message_.headers.end()) {
      state_ = State::UntilClose;
      return;
    }
    const std::string& v = it->second;
    size_t n = 0;
    bool digits = !v.empty() && v.size() <= 12;
    for (char c : v) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      n = n * 10 + size_t(c - '0');
    }
    if (!digits || n > kMaxBody) {
      state_ = State::Failed;
      return;
    }
    expected_ = n;
    if (n == 0) {
      state_ = State::Complete;
      return;
    }
    message_.body.reserve(n);
    state_ = State::Body;
    return;
  }
  if (message_.headers.size() >= kMaxHeaders) {
    state_ = State::Failed;
    return;
  }
  size_t colon = line.find(':');
  std::string name = line.substr(0, colon);
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  std::string value;
  if (colon != std::string::npos) {
    size_t start = line.find_first_not_of(' ', colon + 1);
    if (start != std::string::npos) value = line.substr(start);
  }
  message_.headers[name] = value;
}

void ResponseReader::close() {
  // A body without a length is never processed; a short one is incomplete.
  if (state_ != State::Complete) state_ = State::Failed;
}

}  // namespace updates
