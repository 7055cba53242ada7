// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Closed Set page and the one answer the daemon gives to any request: pure functions, no I/O.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace blockpage {

enum class Lang { fr, en };

// The most the daemon reads from a connection, in one read.
inline constexpr std::size_t kReadSize = 8192;

// What the page needs from a request: the language and the Host value as sent.
struct Request {
    Lang lang = Lang::fr;
    std::string_view host; // a view into the request bytes; empty when no host is known
};

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Reads the bytes of the one read. Anything that is not valid UTF-8 counts as an empty request;
// malformed requests are never refused.
Request parseRequest(std::string_view bytes);

// The quote shown during the minute that contains the given time (seconds since 1970).
int quoteIndex(std::int64_t unixSeconds);

// Appends text to out with the characters that could open markup or end an attribute replaced by
// character references.
void appendEscaped(std::string& out, std::string_view text);

// The answer in its four pieces, in sending order. The two constant pieces point into tables built
// once for the life of the process; head and host are rebuilt for every request in reused storage.
struct Response {
    std::string head;        // status line and headers, up to and including the empty line
    std::string_view before; // the page up to the host
    std::string host;        // the host text, escaped
    std::string_view after;  // the page after the host

    std::size_t pageSize() const { return before.size() + host.size() + after.size(); }
    std::size_t size() const { return head.size() + pageSize(); }
    std::string page() const;
    std::string str() const;
};

// Fills out with the answer to request at the given time, reusing out's storage.
void buildResponse(Response& out, const Request& request, std::int64_t unixSeconds);

} // namespace blockpage
