// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/panels/listspanel.h"

#include "engine/loc.h"
#include "engine/timermodel.h"
#include "ui/panels/runningapps.h"

ListsPanelModel::ListsPanelModel(TimerModel& engine, Workspace& workspace, QObject* parent)
    : PanelModel(parent), m_workspace(&workspace) {
    setEngine(&engine);
}

void ListsPanelModel::attach(TimerModel& engine) {
    // Connected first, so that the views read the line already gone.
    connect(&engine, &TimerModel::lockupsChanged, this, &ListsPanelModel::forgetRejectedOfAnother);
    connect(&engine, &TimerModel::settingsValueChanged, this, &ListsPanelModel::forgetRejectedOfAnother);
    connect(&engine, &TimerModel::lockupsChanged, this, &ListsPanelModel::changed);
    connect(&engine, &TimerModel::settingsValueChanged, this, &ListsPanelModel::changed);
    connect(&engine, &TimerModel::heldChanged, this, &ListsPanelModel::changed);
}

QString ListsPanelModel::rejectedText() const {
    QStringList parts;
    for (const auto& [piece, why] : m_rejected) {
        const QString quoted = pick(QStringLiteral("\u201C") + piece + QStringLiteral("\u201D"),
                                    QStringLiteral("\u00AB\u00A0") + piece + QStringLiteral("\u00A0\u00BB"));
        parts << quoted + (why == SitePiece::Why::spaces
                               ? pick(QStringLiteral(": a site name has no spaces"),
                                      QStringLiteral(" : un nom de site n'a pas d'espace"))
                               : pick(QStringLiteral(": not a site name"),
                                      QStringLiteral(" : pas un nom de site")));
    }
    if (parts.isEmpty()) return {};
    return pick(QStringLiteral("Not blocked — "), QStringLiteral("Non bloqué — ")) +
           parts.join(QStringLiteral("; "));
}

// The pieces rejected belong to the lockup they were typed into: once another one is shown (picked
// here, in the popover or over the bus, or the first one deleted), they are forgotten.
void ListsPanelModel::forgetRejectedOfAnother() {
    const Lockup* l = shown();
    if (!l || l->id != m_rejectedFor) m_rejected.clear();
}

QString ListsPanelModel::heldText() const {
    return m_engine ? m_engine->heldText() : QString();
}
ListsTexts ListsPanelModel::texts() const {
    ListsTexts t;
    t.title = pick(QStringLiteral("LOCKUPS"), QStringLiteral("PÉRIMÈTRES"));
    t.empty = pick(QStringLiteral("No lockups yet."), QStringLiteral("Aucun périmètre pour l'instant."));
    t.newLockup = pick(QStringLiteral("New lockup"), QStringLiteral("Nouveau périmètre"));
    t.namePlaceholder = pick(QStringLiteral("Name"), QStringLiteral("Nom"));
    t.sites =
        pick(QStringLiteral("SITES — ONE DOMAIN PER LINE"), QStringLiteral("SITES — UN DOMAINE PAR LIGNE"));
    t.apps = pick(QStringLiteral("APPS"), QStringLiteral("APPLICATIONS"));
    t.addRunning = pick(QStringLiteral("Add a running app"), QStringLiteral("Ajouter une app ouverte"));
    return t;
}

const Lockup* ListsPanelModel::shown() const {
    return m_engine ? m_engine->lockupInEffect() : nullptr;
}

bool ListsPanelModel::hasLockups() const {
    return m_engine && !m_engine->lockups().isEmpty();
}

QStringList ListsPanelModel::lockupNames() const {
    QStringList out;
    if (m_engine)
        for (const Lockup& l : m_engine->lockups())
            out.append(l.name);
    return out;
}

int ListsPanelModel::currentIndex() const {
    const Lockup* l = shown();
    if (!l) return -1;
    const QList<Lockup>& list = m_engine->lockups();
    for (int i = 0; i < list.size(); ++i)
        if (list[i].id == l->id) return i;
    return -1;
}

QString ListsPanelModel::name() const {
    const Lockup* l = shown();
    return l ? l->name : QString();
}

QString ListsPanelModel::sitesText() const {
    const Lockup* l = shown();
    return l ? l->sites.join(u'\n') : QString();
}

QVariantList ListsPanelModel::apps() const {
    QVariantList out;
    if (const Lockup* l = shown())
        for (const BlockedApp& a : l->apps)
            out.append(QVariantMap{{QStringLiteral("id"), uuidText(a.id)}, {QStringLiteral("name"), a.name}});
    return out;
}

QStringList ListsPanelModel::candidateNames() const {
    QStringList out;
    for (const BlockedApp& a : m_candidates)
        out.append(a.name);
    return out;
}

void ListsPanelModel::selectLockup(int index) {
    if (!m_engine || index < 0 || index >= m_engine->lockups().size()) return;
    m_engine->selectLockup(m_engine->lockups()[index].id);
}

void ListsPanelModel::newLockup() {
    if (m_engine)
        m_engine->addLockup(pick(QStringLiteral("New lockup"), QStringLiteral("Nouveau périmètre")));
}

void ListsPanelModel::deleteShown() {
    if (const Lockup* l = shown()) m_engine->deleteLockup(l->id);
}

template <class F> void ListsPanelModel::editShown(F edit) {
    const int i = currentIndex();
    if (i < 0) return;
    QList<Lockup> list = m_engine->lockups();
    edit(list[i]);
    m_engine->setLockups(list);
}

void ListsPanelModel::setName(const QString& text) {
    editShown([&](Lockup& l) { l.name = text; });
}

void ListsPanelModel::setSitesText(const QString& text) {
    const SiteListParse parsed = parseSites(text);
    m_rejected = parsed.rejected;
    if (const Lockup* l = shown()) m_rejectedFor = l->id;
    editShown([&](Lockup& l) { l.sites = parsed.sites; });
    emit changed();
}

void ListsPanelModel::removeApp(const QString& id) {
    const std::optional<QUuid> uuid = uuidFromText(id);
    if (!uuid) return;
    editShown([&](Lockup& l) { l.apps.removeIf([&](const BlockedApp& a) { return a.id == *uuid; }); });
}

void ListsPanelModel::refreshCandidates() {
    const Lockup* l = shown();
    Workspace* workspace = m_workspace ? m_workspace : PanelSeams::shared().workspace;
    m_candidates =
        l && workspace ? runningAppCandidates(workspace->runningApplications(), *l) : QList<BlockedApp>();
    emit candidatesChanged();
}

void ListsPanelModel::addCandidate(int index) {
    if (index < 0 || index >= m_candidates.size()) return;
    const BlockedApp app = m_candidates[index];
    editShown([&](Lockup& l) {
        for (const BlockedApp& a : l.apps)
            if (a.bundleID.compare(app.bundleID, Qt::CaseInsensitive) == 0) return;
        l.apps.append(app);
    });
    refreshCandidates();
}
