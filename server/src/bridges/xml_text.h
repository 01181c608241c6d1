#pragma once
// Text as XMPP can carry it: XML 1.0 allows only some characters, and a
// server closes the session on a stanza with any other, or with bytes that
// are no UTF-8, so such characters are dropped before sending. A long text
// goes as several messages, each cut between two characters.

#include <string>
#include <string_view>
#include <vector>

namespace olvaro::server {

// `text` less malformed UTF-8 and the characters XML forbids.
std::string xml_safe_text(std::string_view text);

// Valid UTF-8 `text` in parts of at most `most` bytes (at least 4), cut at
// a line break or space in a part's second half when there is one, never
// inside a character. An empty text is one empty part.
std::vector<std::string> text_parts(const std::string& text, size_t most);

}  // namespace olvaro::server
