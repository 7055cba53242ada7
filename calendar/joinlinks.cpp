// SPDX-License-Identifier: GPL-3.0-or-later
#include "calendar/joinlinks.h"

#include "calendar/calendarservice.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

const QStringList& meetingHosts() {
    static const QStringList hosts{
        u"meet.google.com"_s,     // Google Meet
        u"zoom.us"_s,             // Zoom
        u"teams.microsoft.com"_s, // Microsoft Teams (work and school)
        u"teams.live.com"_s,      // Microsoft Teams (personal)
        u"webex.com"_s,           // Webex
        u"whereby.com"_s,         // Whereby
        u"meet.jit.si"_s,         // Jitsi Meet
        u"chime.aws"_s,           // Amazon Chime
        u"bluejeans.com"_s,       // BlueJeans
        u"gotomeeting.com"_s,     // GoToMeeting
        u"around.co"_s,           // Around
        u"meet.around.co"_s,      // Around's meeting rooms
    };
    return hosts;
}

bool isMeetingHost(const QString& host) {
    const QString h = host.toLower();
    for (const QString& entry : meetingHosts()) {
        if (h == entry) return true;
        if (h.size() > entry.size() && h.endsWith(entry) && h.at(h.size() - entry.size() - 1) == u'.')
            return true;
    }
    return false;
}

namespace {
// Drops what most likely ends the sentence or the bracket around a link rather than the link.
QString trimTrailing(QString link) {
    while (!link.isEmpty()) {
        const QChar last = link.back();
        if (QStringView(u".,;:!?'\"*").contains(last)) {
            link.chop(1);
            continue;
        }
        const auto unbalanced = [&](QChar open, QChar close) {
            return last == close && link.count(open) < link.count(close);
        };
        if (unbalanced(u'(', u')') || unbalanced(u'[', u']') || unbalanced(u'{', u'}')) {
            link.chop(1);
            continue;
        }
        break;
    }
    return link;
}
} // namespace

QList<QUrl> linksInText(const QString& text) {
    static const QRegularExpression pattern(
        uR"((?<![\w@.-])(?:([a-z][a-z0-9+.-]*://)|(www\.)|(?=(?:[a-z0-9-]+\.)+[a-z]{2,}/))[^\s<>"'`]+)"_s,
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    QList<QUrl> links;
    auto it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        QString link = trimTrailing(m.captured(0));
        if (m.capturedLength(1) == 0) {
            if (link.size() <= 4) continue; // "www." alone
            link.prepend(u"http://"_s);
        } else if (link.size() <= m.capturedLength(1)) {
            continue; // a scheme with nothing behind it
        }
        QUrl url(link, QUrl::TolerantMode);
        if (url.isValid() && !url.host().isEmpty()) links.append(url);
    }
    return links;
}

std::optional<QUrl> detectJoinURL(const QUrl& url, const QString& location, const QString& notes) {
    const auto isWebLink = [](const QUrl& u) {
        return u.isValid() && u.scheme().toLower().startsWith(u"http"_s);
    };
    QList<QUrl> candidates;
    if (isWebLink(url)) candidates.append(url);
    for (const QString* text : {&location, &notes}) {
        if (text->isEmpty()) continue;
        for (const QUrl& link : linksInText(*text))
            if (isWebLink(link)) candidates.append(link);
    }
    if (candidates.isEmpty()) return std::nullopt;
    for (const QUrl& c : candidates)
        if (isMeetingHost(c.host())) return c;
    return candidates.first();
}
