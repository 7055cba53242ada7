// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a request and building the answer, byte for byte, without sockets.

#include "client.h"
#include "page.h"

#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace blockpage;
using namespace blockpage::test;

namespace {

// The characters that are easy to get subtly wrong, spelled as bytes.
#define RSQUO "\xE2\x80\x99"       // U+2019
#define DASH " \xE2\x80\x94 "      // U+2014 with a space on each side
#define CLAPPER "\xF0\x9F\x8E\xAC" // U+1F3AC

struct Texts {
    std::string lang, title, tag, headline, hostText, footer;
    std::array<std::string, 5> quotes;
};

const Texts kEn{"en",
                "Closed Set" DASH "Mivra",
                "CLOSED SET",
                "Cut. Not now.",
                "is locked up while you" RSQUO "re rolling.",
                "",
                {"Camera" RSQUO "s running. Stay in the shot.",
                 "The cut is made in the moments you don" RSQUO "t look away.",
                 "Roll sound. Roll camera. Roll yourself back to the work.", "You called action. Mean it.",
                 "Nobody great ever wandered off-set mid-take."}};
const Texts kFr{"fr",
                "Plateau fermé" DASH "Mivra",
                "PLATEAU FERMÉ",
                "Coupez. Pas maintenant.",
                "est verrouillé pendant que tu tournes.",
                "Mivra" DASH "fait dans l'Oriflan. Le plateau rouvre à ton prochain réglage ou emballage.",
                {"La caméra tourne. Reste dans le cadre.",
                 "Le montage se fait dans les instants où tu ne détournes pas le regard.",
                 "Son. Image. Et ramène-toi au travail.", "Tu as dit « action ». Tiens parole.",
                 "Personne de grand n'a quitté le plateau en pleine mivra."}};

std::string styleOf(const std::string& page) {
    std::size_t from = page.find("<style>\n"), to = page.find("\n</style></head>\n");
    return from == std::string::npos || to == std::string::npos ? "" : page.substr(from + 8, to - from - 8);
}

// The page line by line, with the style sheet taken from the page under test (checked on its own).
std::string expectedPage(const Texts& t, int quote, const std::string& host, const std::string& style) {
    return "<!DOCTYPE html>\n<html lang=\"" + t.lang +
           "\"><head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           t.title + "</title>\n<style>\n" + style +
           "\n</style></head>\n<body>\n"
           "  <div class=\"slate\">\n    <div class=\"clapper\">" CLAPPER "</div>\n    <div class=\"tag\">" +
           t.tag + "</div>\n    <h1>" + t.headline + "</h1>\n    <p class=\"quote\">" + t.quotes[quote] +
           "</p>\n"
           "    <div class=\"bars\"><i></i><i></i><i></i><i></i><i></i><i></i></div>\n"
           "    <div class=\"host\"><b>" +
           host + "</b> " + t.hostText +
           "</div>\n"
           "    <div class=\"foot\">" +
           t.footer + "</div>\n  </div>\n</body></html>";
}

Reply answer(std::string_view request, std::int64_t when = 0) {
    Response r;
    buildResponse(r, parseRequest(request), when);
    return splitReply(r.str());
}

TEST(ParseRequest, HostAndLanguageRules) {
    struct Case {
        const char* what;
        std::string request;
        Lang lang;
        std::string host;
    };
    const std::vector<Case> cases = {
        {"mixed-case host, en-GB first",
         "GET / HTTP/1.1\r\nHost: News.Example.ORG\r\nAccept-Language: en-GB,fr;q=0.8\r\n\r\n", Lang::en,
         "News.Example.ORG"},
        {"fr-CA first, en second",
         "GET / HTTP/1.1\r\nHost: a.test\r\nAccept-Language: fr-CA,en;q=0.8\r\n\r\n", Lang::fr, "a.test"},
        {"no Accept-Language", "GET / HTTP/1.1\r\nHost: a.test\r\n\r\n", Lang::fr, "a.test"},
        {"leading semicolon", "GET / HTTP/1.1\r\nAccept-Language: ;en-US\r\n\r\n", Lang::en, ""},
        {"names and language in capitals",
         "GET / HTTP/1.1\r\nHOST: up.test\r\nACCEPT-LANGUAGE: EN-us\r\n\r\n", Lang::en, "up.test"},
        {"empty Host value", "GET / HTTP/1.1\r\nHost: \t \r\n\r\n", Lang::fr, ""},
        {"port kept, blanks trimmed", "GET / HTTP/1.1\r\nHost:\t a.test:8080 \t\r\n\r\n", Lang::fr,
         "a.test:8080"},
        {"a name that only ends in host", "GET / HTTP/1.1\r\nX-Forwarded-Host: x.test\r\n\r\n", Lang::fr, ""},
        {"LF-only lines are one line", "GET / HTTP/1.1\nHost: a.test\nAccept-Language: en\n\n", Lang::fr, ""},
        {"invalid UTF-8", "GET / HTTP/1.1\r\nHost: a.test\r\nAccept-Language: en\r\nX: \xFF\r\n\r\n",
         Lang::fr, ""},
        {"no request line", "Host: bare.test\r\nAccept-Language: en", Lang::en, "bare.test"},
    };
    for (const Case& c : cases) {
        Request r = parseRequest(c.request);
        EXPECT_EQ(r.lang, c.lang) << c.what;
        EXPECT_EQ(r.host, c.host) << c.what;
    }
}

TEST(ParseRequest, AcceptsOnlyWellFormedUtf8) {
    EXPECT_TRUE(isValidUtf8("é" DASH CLAPPER " \xF4\x8F\xBF\xBF")); // up to U+10FFFF
    for (const char* bad :
         {"\x80", "\xC3", "\xF0\x9F\x8E", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
        EXPECT_FALSE(isValidUtf8(bad))
            << testing::PrintToString(bad); // stray, cut short, overlong, surrogate, too big
}

TEST(Response, ByteExactInBothLanguagesForEveryQuote) {
    const struct {
        const Texts& texts;
        std::string request, host;
    } langs[] = {{kEn, "GET / HTTP/1.1\r\nHost: Example.COM:8080\r\nAccept-Language: en-GB\r\n\r\n",
                  "Example.COM:8080"},
                 {kFr, "GET / HTTP/1.1\r\n\r\n", "Ce site"}};
    for (int q = 0; q < 5; ++q)
        for (const auto& l : langs) {
            Reply r = answer(l.request, (1'000'000 + q) * 60 + 17); // minute 1,000,000 is a multiple of 5
            const std::string page = expectedPage(l.texts, q, l.host, styleOf(r.body));
            EXPECT_EQ(r.body, page) << l.texts.lang << q;
            EXPECT_EQ(r.head,
                      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                          std::to_string(page.size()) + // bytes, not characters
                          "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n");
        }
    EXPECT_NE(answer("Accept-Language: en").body.find("<b>That site</b>"), std::string::npos);
    // A clock before 1970 still picks a quote (the last one, a minute before).
    EXPECT_NE(answer("", -60).body.find(kFr.quotes[4]), std::string::npos);
}

TEST(Response, HostIsEscapedSoItCannotInjectMarkup) {
    for (const char* host : {"a&b<c>d\"e'f", "\"><script>alert(1)</script><b x='"}) {
        Reply r = answer("Host: " + std::string(host) + "\r\n");
        EXPECT_EQ(r.body.find("<script"), std::string::npos) << host;
        EXPECT_EQ(std::size_t(r.contentLength), r.body.size()) << host;
    }
    EXPECT_NE(answer("Host: a&b<c>d\"e'f\r\n").body.find("<b>a&amp;b&lt;c&gt;d&quot;e&#39;f</b>"),
              std::string::npos);
}

TEST(StyleSheet, EveryColourTokenIsDefinedAndNothingIsFetched) {
    const std::string page = answer("").body, style = styleOf(page);
    const std::regex defined("(--[a-z-]+):"), used("var\\((--[a-z-]+)\\)");
    std::set<std::string> defs, uses;
    for (std::sregex_iterator i(style.begin(), style.end(), defined), end; i != end; ++i)
        defs.insert((*i)[1]);
    for (std::sregex_iterator i(style.begin(), style.end(), used), end; i != end; ++i)
        uses.insert((*i)[1]);
    EXPECT_FALSE(defs.empty());
    EXPECT_EQ(uses, defs);
    for (const char* fetch : {"url(", "@import", "src=", "href=", "http"})
        EXPECT_EQ(page.find(fetch), std::string::npos) << fetch;
}

} // namespace
