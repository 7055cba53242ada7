// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for the request reader and the answer built from it: any bytes a client can send in
// one read must give a well-formed answer whose host cannot open markup.

#include "page.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace blockpage;

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kReadSize) return 0; // never more than one read
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const Request request = parseRequest(bytes);
    if (!request.host.empty()) {
        // A view into the bytes read, without the blanks around it.
        check(request.host.data() >= bytes.data() &&
              request.host.data() + request.host.size() <= bytes.data() + bytes.size());
        check(request.host.front() != ' ' && request.host.front() != '\t');
        check(request.host.back() != ' ' && request.host.back() != '\t');
    }
    if (!isValidUtf8(bytes)) check(request.host.empty() && request.lang == Lang::fr);

    Response response;
    buildResponse(response, request, std::int64_t(size) * 60);
    const std::string page = response.page();
    check(response.head.find("\r\nContent-Length: " + std::to_string(page.size()) + "\r\n") !=
          std::string::npos);
    check(page.size() >= 14 && page.compare(page.size() - 14, 14, "</body></html>") == 0);
    check(response.host.find_first_of("<>\"'") == std::string::npos);
    for (std::size_t at = response.host.find('&'); at != std::string::npos;
         at = response.host.find('&', at + 1)) {
        std::string_view rest = std::string_view(response.host).substr(at);
        check(rest.rfind("&amp;", 0) == 0 || rest.rfind("&lt;", 0) == 0 || rest.rfind("&gt;", 0) == 0 ||
              rest.rfind("&quot;", 0) == 0 || rest.rfind("&#39;", 0) == 0);
    }
    return 0;
}
