// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// The hosts of the meeting services, lower case. A link matches an entry when its host is the
// entry or any subdomain of it.
const QStringList& meetingHosts();
bool isMeetingHost(const QString& host);

// The links written in free text (a location, an event's notes), in order of appearance: full URLs
// with a scheme, "www." addresses and bare host names followed by a path, the last two read as http.
// Punctuation that closes a sentence or a bracket around the link is not part of it.
QList<QUrl> linksInText(const QString& text);
