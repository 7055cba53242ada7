// The pure side of the daemon: reading a request and building the answer, byte for byte.

#include "client.h"
#include "page.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace blockpage;
using namespace blockpage::test;

namespace {

// The characters that are easy to get subtly wrong, spelled as bytes.
#define RSQUO "\xE2\x80\x99"  // U+2019 right single quotation mark
#define EMDASH "\xE2\x80\x94" // U+2014 em dash
#define CLAPPER "\xF0\x9F\x8E\xAC"

struct Texts {
    std::string lang, title, tag, headline, defaultHost, hostText, footer;
    std::vector<std::string> quotes;
};

const Texts kEn{"en",
                "Closed Set " EMDASH " Mivra",
                "CLOSED SET",
                "Cut. Not now.",
                "That site",
                "is locked up while you" RSQUO "re rolling.",
                "",
                {"Camera" RSQUO "s running. Stay in the shot.",
                 "The cut is made in the moments you don" RSQUO "t look away.",
                 "Roll sound. Roll camera. Roll yourself back to the work.", "You called action. Mean it.",
                 "Nobody great ever wandered off-set mid-take."}};

const Texts kFr{"fr",
                "Plateau fermé " EMDASH " Mivra",
                "PLATEAU FERMÉ",
                "Coupez. Pas maintenant.",
                "Ce site",
                "est verrouillé pendant que tu tournes.",
                "Mivra " EMDASH " fait dans l'Oriflan. Le plateau rouvre à ton prochain réglage ou emballage.",
                {"La caméra tourne. Reste dans le cadre.",
                 "Le montage se fait dans les instants où tu ne détournes pas le regard.",
                 "Son. Image. Et ramène-toi au travail.", "Tu as dit « action ». Tiens parole.",
                 "Personne de grand n'a quitté le plateau en pleine mivra."}};

std::string styleOf(const std::string& page) {
    std::size_t from = page.find("<style>\n");
    std::size_t to = page.find("\n</style></head>\n");
    if (from == std::string::npos || to == std::string::npos)
        return {};
    return page.substr(from + 8, to - from - 8);
}

// The page as laid out line by line, with the style sheet taken from the page under test (it is
// checked on its own below).
std::string expectedPage(const Texts& t, int quote, const std::string& host, const std::string& style) {
    return "<!DOCTYPE html>\n"
           "<html lang=\"" + t.lang + "\"><head>\n"
           "<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" + t.title + "</title>\n"
           "<style>\n" + style + "\n"
           "</style></head>\n"
           "<body>\n"
           "  <div class=\"slate\">\n"
           "    <div class=\"clapper\">" CLAPPER "</div>\n"
           "    <div class=\"tag\">" + t.tag + "</div>\n"
           "    <h1>" + t.headline + "</h1>\n"
           "    <p class=\"quote\">" + t.quotes[quote] + "</p>\n"
           "    <div class=\"bars\"><i></i><i></i><i></i><i></i><i></i><i></i></div>\n"
           "    <div class=\"host\"><b>" + host + "</b> " + t.hostText + "</div>\n"
           "    <div class=\"foot\">" + t.footer + "</div>\n"
           "  </div>\n"
           "</body></html>";
}

std::string expectedHead(std::size_t length) {
    return "HTTP/1.1 200 OK\r\n"
           "Content-Type: text/html; charset=utf-8\r\n"
           "Content-Length: " + std::to_string(length) + "\r\n"
           "Cache-Control: no-store\r\n"
           "Connection: close\r\n"
           "\r\n";
}

std::string answer(std::string_view request, std::int64_t when = 0) {
    Response r;
    buildResponse(r, parseRequest(request), when);
    return r.str();
}

// --- Reading the request -------------------------------------------------------------------------

struct ParseCase {
    const char* what;
    std::string request;
    Lang lang;
    std::string host;
};

TEST(ParseRequest, HostAndLanguageRules) {
    const std::vector<ParseCase> cases = {
        {"mixed-case host, en-GB first", "GET / HTTP/1.1\r\nHost: News.Example.ORG\r\nAccept-Language: en-GB,en;q=0.9,fr;q=0.8\r\n\r\n",
         Lang::en, "News.Example.ORG"},
        {"fr-CA first, en second", "GET / HTTP/1.1\r\nHost: a.test\r\nAccept-Language: fr-CA,en;q=0.8\r\n\r\n",
         Lang::fr, "a.test"},
        {"no Accept-Language", "GET / HTTP/1.1\r\nHost: a.test\r\n\r\n", Lang::fr, "a.test"},
        {"leading semicolon", "GET / HTTP/1.1\r\nAccept-Language: ;en-US\r\n\r\n", Lang::en, ""},
        {"only separators", "GET / HTTP/1.1\r\nAccept-Language: ,;,\r\n\r\n", Lang::fr, ""},
        {"language in capitals", "GET / HTTP/1.1\r\nAccept-Language: EN-us\r\n\r\n", Lang::en, ""},
        {"no Host line", "GET / HTTP/1.1\r\nAccept-Language: en\r\n\r\n", Lang::en, ""},
        {"empty Host value", "GET / HTTP/1.1\r\nHost: \t \r\n\r\n", Lang::fr, ""},
        {"names in capitals", "GET / HTTP/1.1\r\nHOST: up.test\r\nACCEPT-LANGUAGE: en\r\n\r\n", Lang::en, "up.test"},
        {"names in lower case", "GET / HTTP/1.1\r\nhost: low.test\r\naccept-language: en\r\n\r\n", Lang::en,
         "low.test"},
        {"port kept, blanks trimmed", "GET / HTTP/1.1\r\nHost:\t a.test:8080 \t\r\n\r\n", Lang::fr, "a.test:8080"},
        {"first Host line wins", "GET / HTTP/1.1\r\nHost: one.test\r\nHost: two.test\r\n\r\n", Lang::fr, "one.test"},
        {"other names ending in host", "GET / HTTP/1.1\r\nX-Forwarded-Host: x.test\r\n\r\n", Lang::fr, ""},
        {"LF-only lines are one line", "GET / HTTP/1.1\nHost: a.test\nAccept-Language: en\n\n", Lang::fr, ""},
        {"invalid UTF-8", "GET / HTTP/1.1\r\nHost: a.test\r\nAccept-Language: en\r\nX: \xFF\r\n\r\n", Lang::fr,
         ""},
        {"nothing at all", "", Lang::fr, ""},
        {"no request line", "Host: bare.test\r\nAccept-Language: en", Lang::en, "bare.test"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.what);
        Request r = parseRequest(c.request);
        EXPECT_EQ(r.lang, c.lang);
        EXPECT_EQ(std::string(r.host), c.host);
    }
}

TEST(ParseRequest, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8("plain ASCII"));
    EXPECT_TRUE(isValidUtf8("é — " CLAPPER " \xF4\x8F\xBF\xBF")); // up to U+10FFFF
    EXPECT_FALSE(isValidUtf8("\x80"));                          // stray continuation byte
    EXPECT_FALSE(isValidUtf8("\xC3"));                          // cut short at the end
    EXPECT_FALSE(isValidUtf8("\xE2\x80"));
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));         // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xE0\x80\xAF"));     // overlong '/'
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xF0\x9F\x8E"));     // emoji missing its last byte
}

TEST(QuoteIndex, ChangesEveryMinuteAndRestartsOnMultiplesOfFive) {
    const std::int64_t minute = 29'000'000; // a multiple of 5
    EXPECT_EQ(quoteIndex(minute * 60), 0);
    EXPECT_EQ(quoteIndex(minute * 60 + 59), 0); // same minute, same quote
    EXPECT_EQ(quoteIndex((minute + 1) * 60), 1);
    EXPECT_EQ(quoteIndex((minute + 4) * 60 + 30), 4);
    EXPECT_EQ(quoteIndex((minute + 5) * 60), 0);
    EXPECT_EQ(quoteIndex(-60), 4); // before 1970: still a valid index
}

// --- The answer ----------------------------------------------------------------------------------

TEST(Response, ByteExactInBothLanguagesForEveryQuote) {
    for (int q = 0; q < 5; ++q) {
        SCOPED_TRACE(q);
        const std::int64_t when = (1'000'000 + q) * 60 + 17; // minute 1,000,000 is a multiple of 5

        std::string en = answer("GET / HTTP/1.1\r\nHost: Example.COM:8080\r\nAccept-Language: en-GB\r\n\r\n", when);
        Reply r = splitReply(en);
        std::string page = expectedPage(kEn, q, "Example.COM:8080", styleOf(r.body));
        EXPECT_EQ(r.body, page);
        EXPECT_EQ(r.head, expectedHead(page.size()));

        std::string fr = answer("GET / HTTP/1.1\r\n\r\n", when);
        r = splitReply(fr);
        page = expectedPage(kFr, q, "Ce site", styleOf(r.body));
        EXPECT_EQ(r.body, page);
        EXPECT_EQ(r.head, expectedHead(page.size()));
    }
    EXPECT_NE(answer("", 0).find("<b>Ce site</b>"), std::string::npos);
    EXPECT_NE(answer("Accept-Language: en", 0).find("<b>That site</b>"), std::string::npos);
}

TEST(Response, ContentLengthCountsUtf8Bytes) {
    for (const char* request : {"Accept-Language: en\r\nHost: ü.test", "Host: ü.test", ""}) {
        Reply r = splitReply(answer(request));
        EXPECT_EQ(std::size_t(r.contentLength), r.body.size()) << request;
        EXPECT_NE(r.body.rfind("</body></html>"), std::string::npos);
        EXPECT_EQ(r.body.substr(r.body.size() - 14), "</body></html>"); // nothing after the last line
    }
}

TEST(Response, HostIsEscapedSoItCannotInjectMarkup) {
    Reply r = splitReply(answer("Host: a&b<c>d\"e'f\r\n"));
    EXPECT_NE(r.body.find("<b>a&amp;b&lt;c&gt;d&quot;e&#39;f</b>"), std::string::npos);
    EXPECT_EQ(std::size_t(r.contentLength), r.body.size());

    r = splitReply(answer("Host: \"><script>alert(1)</script><b x='\r\n"));
    EXPECT_EQ(r.body.find("<script"), std::string::npos);
    EXPECT_EQ(r.body.find("x='"), std::string::npos);

    // Ordinary host names are shown as sent.
    r = splitReply(answer("Host: www.Example-1.co.uk:8443\r\n"));
    EXPECT_NE(r.body.find("<b>www.Example-1.co.uk:8443</b>"), std::string::npos);
}

// --- The style sheet -----------------------------------------------------------------------------

std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = s.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(s.substr(start, nl - start));
    lines.push_back(s.substr(start));
    return lines;
}

std::string trim(std::string s) {
    s.erase(0, s.find_first_not_of(" \n"));
    s.erase(s.find_last_not_of(" \n") + 1);
    return s;
}

TEST(StyleSheet, ThirtySixLinesOfTheNightPaletteRules) {
    const std::string style = styleOf(answer(""));
    const std::vector<std::string> lines = splitLines(style);
    ASSERT_EQ(lines.size(), 36u);

    // It opens with a comment saying where the colours come from and why there is no web font.
    std::size_t commentEnd = style.find("*/");
    ASSERT_EQ(style.rfind("  /*", 0), 0u);
    ASSERT_NE(commentEnd, std::string::npos);
    const std::string comment = style.substr(0, commentEnd);
    for (const char* word : {"night palette", "web font", "no network", "system-ui"})
        EXPECT_NE(comment.find(word), std::string::npos) << word;

    // Rules at two spaces, continued declarations at four.
    bool inComment = true;
    for (const std::string& line : lines) {
        if (inComment) {
            inComment = line.find("*/") == std::string::npos;
            continue;
        }
        bool opensOrCloses = line.find('{') != std::string::npos || trim(line) == "}";
        EXPECT_EQ(line.find_first_not_of(' '), opensOrCloses ? 2u : 4u) << line;
    }

    // Selectors and declarations, in order.
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
        {":root",
         {"color-scheme: dark", "--nuit: #0E1622", "--nuit-panel: #16202F", "--hairline: #26364F",
          "--bleu-profond: #1F3557", "--trace: #A7C4E2", "--trace-dim: #8298B4", "--craie-blanc: #EEF2F8",
          "--craie: #D2543F"}},
        {"*", {"margin: 0", "padding: 0", "box-sizing: border-box"}},
        {"body",
         {"min-height: 100vh", "display: flex", "align-items: center", "justify-content: center",
          "background: radial-gradient(120% 120% at 50% 0%, var(--bleu-profond) 0%, var(--nuit) 55%, #080D16 100%)",
          "color: var(--craie-blanc)", "font-family: system-ui, -apple-system, sans-serif",
          "-webkit-font-smoothing: antialiased", "padding: 32px"}},
        {".slate", {"width: min(560px, 92vw)", "text-align: center"}},
        {".clapper", {"font-size: 64px", "line-height: 1"}},
        {".tag",
         {"margin-top: 22px", "font: 700 12px/1 ui-monospace, \"SF Mono\", Menlo, monospace",
          "letter-spacing: 0.32em", "color: var(--trace)"}},
        {"h1",
         {"margin-top: 14px", "font-size: 40px", "font-weight: 800", "letter-spacing: -0.025em",
          "text-wrap: balance"}},
        {".quote",
         {"margin-top: 18px", "font-size: 17px", "color: var(--trace-dim)", "line-height: 1.5",
          "text-wrap: pretty"}},
        {".host",
         {"margin-top: 28px", "display: inline-block", "padding: 9px 16px", "border-radius: 10px",
          "background: var(--nuit-panel)", "border: 1px solid var(--hairline)",
          "font: 600 13px/1 ui-monospace, \"SF Mono\", Menlo, monospace", "color: var(--trace-dim)"}},
        {".host b", {"color: var(--craie)"}},
        {".foot", {"margin-top: 34px", "font-size: 12px", "color: var(--trace-dim)", "opacity: .7"}},
        {".bars", {"margin-top: 26px", "display: flex", "gap: 6px", "justify-content: center"}},
        {".bars i",
         {"width: 26px", "height: 5px", "border-radius: 3px", "background: var(--hairline)", "display: block"}},
        {".bars i:nth-child(-n+2)", {"background: var(--craie)"}},
        {"::selection", {"background: var(--craie)", "color: #fff"}},
    };
    std::vector<std::pair<std::string, std::vector<std::string>>> rules;
    std::string body = style.substr(commentEnd + 2);
    for (std::size_t open; (open = body.find('{')) != std::string::npos;) {
        std::size_t close = body.find('}', open);
        ASSERT_NE(close, std::string::npos);
        std::vector<std::string> decls;
        std::string block = body.substr(open + 1, close - open - 1);
        for (std::size_t start = 0, semi; start < block.size(); start = semi + 1) {
            semi = block.find(';', start);
            if (semi == std::string::npos)
                semi = block.size();
            std::string d = trim(block.substr(start, semi - start));
            if (!d.empty())
                decls.push_back(d);
        }
        rules.emplace_back(trim(body.substr(0, open)), decls);
        body.erase(0, close + 1);
    }
    EXPECT_EQ(trim(body), "");
    EXPECT_EQ(rules, expected);
}

} // namespace
