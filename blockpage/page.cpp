// SPDX-License-Identifier: GPL-3.0-or-later
#include "page.h"

#include <array>

namespace blockpage {
namespace {

struct Texts {
    std::string_view lang;
    std::string_view title;
    std::string_view tag;
    std::string_view headline;
    std::string_view defaultHost;
    std::string_view hostText;
    std::string_view footer;
    std::array<std::string_view, 5> quotes;
};

constexpr Texts kEnglish{
    "en",
    "Closed Set — Mivra",
    "CLOSED SET",
    "Cut. Not now.",
    "That site",
    "is locked up while you’re rolling.",
    "",
    {
        "Camera’s running. Stay in the shot.",
        "The cut is made in the moments you don’t look away.",
        "Roll sound. Roll camera. Roll yourself back to the work.",
        "You called action. Mean it.",
        "Nobody great ever wandered off-set mid-take.",
    },
};

constexpr Texts kFrench{
    "fr",
    "Plateau fermé — Mivra",
    "PLATEAU FERMÉ",
    "Coupez. Pas maintenant.",
    "Ce site",
    "est verrouillé pendant que tu tournes.",
    "Mivra — fait dans l'Oriflan. Le plateau rouvre à ton prochain réglage ou emballage.",
    {
        "La caméra tourne. Reste dans le cadre.",
        "Le montage se fait dans les instants où tu ne détournes pas le regard.",
        "Son. Image. Et ramène-toi au travail.",
        "Tu as dit « action ». Tiens parole.",
        "Personne de grand n'a quitté le plateau en pleine mivra.",
    },
};

// The page must render with nothing but itself: browsers reach it while name resolution is
// redirected, so it names no font file, image or other resource.
constexpr std::string_view kStyle =
    R"css(  /* Colours: the app's night palette, under the names of the tokens this page uses. No web font is
     loaded: the page is shown while the browser's name resolution is redirected, so it must render
     with no network and no assets, and system-ui is the font. */
  :root {
    color-scheme: dark;
    --nuit: #0E1622; --nuit-panel: #16202F; --hairline: #26364F; --bleu-profond: #1F3557;
    --trace: #A7C4E2; --trace-dim: #8298B4; --craie-blanc: #EEF2F8; --craie: #D2543F;
  }
  * { margin: 0; padding: 0; box-sizing: border-box; }
  body {
    min-height: 100vh; display: flex; align-items: center; justify-content: center;
    background: radial-gradient(120% 120% at 50% 0%, var(--bleu-profond) 0%, var(--nuit) 55%, #080D16 100%);
    color: var(--craie-blanc); font-family: system-ui, -apple-system, sans-serif;
    -webkit-font-smoothing: antialiased; padding: 32px;
  }
  .slate { width: min(560px, 92vw); text-align: center; }
  .clapper { font-size: 64px; line-height: 1; }
  .tag {
    margin-top: 22px; font: 700 12px/1 ui-monospace, "SF Mono", Menlo, monospace;
    letter-spacing: 0.32em; color: var(--trace);
  }
  h1 { margin-top: 14px; font-size: 40px; font-weight: 800; letter-spacing: -0.025em; text-wrap: balance; }
  .quote {
    margin-top: 18px; font-size: 17px; color: var(--trace-dim); line-height: 1.5; text-wrap: pretty;
  }
  .host {
    margin-top: 28px; display: inline-block; padding: 9px 16px; border-radius: 10px;
    background: var(--nuit-panel); border: 1px solid var(--hairline);
    font: 600 13px/1 ui-monospace, "SF Mono", Menlo, monospace; color: var(--trace-dim);
  }
  .host b { color: var(--craie); }
  .foot { margin-top: 34px; font-size: 12px; color: var(--trace-dim); opacity: .7; }
  .bars { margin-top: 26px; display: flex; gap: 6px; justify-content: center; }
  .bars i { width: 26px; height: 5px; border-radius: 3px; background: var(--hairline); display: block; }
  .bars i:nth-child(-n+2) { background: var(--craie); }
  ::selection { background: var(--craie); color: #fff; })css";

// The page of one language and one quote, cut where the host goes.
struct Page {
    std::string before;
    std::string after;
};

Page makePage(const Texts& t, int quote) {
    Page p;
    std::string& b = p.before;
    b += "<!DOCTYPE html>\n";
    b += "<html lang=\"";
    b += t.lang;
    b += "\"><head>\n";
    b += "<meta charset=\"utf-8\">\n";
    b += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    b += "<title>";
    b += t.title;
    b += "</title>\n";
    b += "<style>\n";
    b += kStyle;
    b += "\n</style></head>\n";
    b += "<body>\n";
    b += "  <div class=\"slate\">\n";
    b += "    <div class=\"clapper\">\U0001F3AC</div>\n";
    b += "    <div class=\"tag\">";
    b += t.tag;
    b += "</div>\n";
    b += "    <h1>";
    b += t.headline;
    b += "</h1>\n";
    b += "    <p class=\"quote\">";
    b += t.quotes[quote];
    b += "</p>\n";
    b += "    <div class=\"bars\"><i></i><i></i><i></i><i></i><i></i><i></i></div>\n";
    b += "    <div class=\"host\"><b>";

    std::string& a = p.after;
    a += "</b> ";
    a += t.hostText;
    a += "</div>\n";
    a += "    <div class=\"foot\">";
    a += t.footer;
    a += "</div>\n";
    a += "  </div>\n";
    a += "</body></html>";
    return p;
}

// Ten pages (two languages, five quotes), built on first use and never changed afterwards, so the
// serving threads share them without locking.
struct Pages {
    std::array<Page, 5> en;
    std::array<Page, 5> fr;

    Pages() {
        for (int i = 0; i < 5; ++i) {
            en[i] = makePage(kEnglish, i);
            fr[i] = makePage(kFrench, i);
        }
    }
};

const Pages& pages() {
    static const Pages instance;
    return instance;
}

constexpr std::string_view kHeadStart = "HTTP/1.1 200 OK\r\n"
                                        "Content-Type: text/html; charset=utf-8\r\n"
                                        "Content-Length: ";
constexpr std::string_view kHeadEnd = "\r\n"
                                      "Cache-Control: no-store\r\n"
                                      "Connection: close\r\n"
                                      "\r\n";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Header names hold only ASCII letters, so ASCII case folding matches any Unicode lower-casing here.
bool startsWithNoCase(std::string_view s, std::string_view lowerPrefix) {
    if (s.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i)
        if (lowerAscii(s[i]) != lowerPrefix[i]) return false;
    return true;
}

// The first piece of an Accept-Language value (split at commas and semicolons, empty pieces dropped)
// begins with "en", compared without case.
bool firstPieceIsEnglish(std::string_view value) {
    std::size_t start = value.find_first_not_of(",;");
    if (start == std::string_view::npos) return false;
    return startsWithNoCase(value.substr(start), "en");
}

} // namespace

bool isValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                lo = 0xA0; // overlong
            else if (c == 0xED)
                hi = 0x9F; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                lo = 0x90; // overlong
            else if (c == 0xF4)
                hi = 0x8F; // past U+10FFFF
        } else {
            return false;
        }
        if (end - p <= extra) return false;
        if (p[1] < lo || p[1] > hi) return false;
        for (int i = 2; i <= extra; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        p += extra + 1;
    }
    return true;
}

Request parseRequest(std::string_view bytes) {
    Request r;
    if (!isValidUtf8(bytes)) return r;

    bool haveHost = false, haveLang = false;
    std::string_view rest = bytes;
    while (!rest.empty() && !(haveHost && haveLang)) {
        // Lines end at CR LF only: a lone LF or CR stays inside its line.
        std::size_t end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);

        if (!haveHost && startsWithNoCase(line, "host:")) {
            haveHost = true;
            r.host = trimBlanks(line.substr(5));
        } else if (!haveLang && startsWithNoCase(line, "accept-language:")) {
            haveLang = true;
            r.lang = firstPieceIsEnglish(trimBlanks(line.substr(16))) ? Lang::en : Lang::fr;
        }
    }
    return r;
}

int quoteIndex(std::int64_t unixSeconds) {
    std::int64_t minute = unixSeconds / 60;
    // Before 1970 the remainder is negative; keep the index in range all the same.
    return int(((minute % 5) + 5) % 5);
}

void appendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
}

void buildResponse(Response& out, const Request& request, std::int64_t unixSeconds) {
    const bool en = request.lang == Lang::en;
    const Page& page = (en ? pages().en : pages().fr)[quoteIndex(unixSeconds)];

    out.before = page.before;
    out.after = page.after;
    out.host.clear();
    if (request.host.empty())
        out.host += (en ? kEnglish : kFrench).defaultHost;
    else
        appendEscaped(out.host, request.host);

    out.head.clear();
    out.head += kHeadStart;
    out.head += std::to_string(out.pageSize());
    out.head += kHeadEnd;
}

std::string Response::page() const {
    std::string s;
    s.reserve(pageSize());
    s.append(before).append(host).append(after);
    return s;
}

std::string Response::str() const {
    return head + page();
}

} // namespace blockpage
