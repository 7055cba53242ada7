// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include "ui/panels/panelkit.h"

#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class TimerModel;
class Workspace;

// The lists panel's texts in the current language.
struct ListsTexts {
    Q_GADGET
    QML_VALUE_TYPE(listsTexts)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString empty MEMBER empty)
    Q_PROPERTY(QString newLockup MEMBER newLockup)
    Q_PROPERTY(QString namePlaceholder MEMBER namePlaceholder)
    Q_PROPERTY(QString sites MEMBER sites)
    Q_PROPERTY(QString apps MEMBER apps)
    Q_PROPERTY(QString addRunning MEMBER addRunning)
public:
    QString title, empty, newLockup, namePlaceholder, sites, apps, addRunning;
};

// The lists panel's face: the lockup in effect with its name, sites and applications, the
// lockup picker, and the running applications it may still block.
class ListsPanelModel : public PanelModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(ListsTexts texts READ texts NOTIFY changed)
    Q_PROPERTY(bool hasLockups READ hasLockups NOTIFY changed)
    Q_PROPERTY(QStringList lockupNames READ lockupNames NOTIFY changed)
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY changed)
    Q_PROPERTY(QString name READ name NOTIFY changed)
    // The stored sites, one per line.
    Q_PROPERTY(QString sitesText READ sitesText NOTIFY changed)
    // The pieces of the last edit that name no host and so block nothing, each with why, on one
    // line; empty when every piece was taken.
    Q_PROPERTY(QString rejectedText READ rejectedText NOTIFY changed)
    // While a locked take holds a block the lockups no longer ask for, one line that says so.
    Q_PROPERTY(QString heldText READ heldText NOTIFY changed)
    // One map per blocked application: id, name.
    Q_PROPERTY(QVariantList apps READ apps NOTIFY changed)
    // The names of the running applications the menu offers, as of the last refreshCandidates().
    Q_PROPERTY(QStringList candidateNames READ candidateNames NOTIFY candidatesChanged)

public:
    // Made by QML: the workspace is the shell's (PanelSeams).
    explicit ListsPanelModel(QObject* parent = nullptr) : PanelModel(parent) {}
    ListsPanelModel(TimerModel& engine, Workspace& workspace, QObject* parent = nullptr);

    ListsTexts texts() const;
    bool hasLockups() const;
    QStringList lockupNames() const;
    int currentIndex() const; // position of the lockup in effect, -1 when there is none
    QString name() const;
    QString sitesText() const;
    QVariantList apps() const;
    QString rejectedText() const;
    QString heldText() const;
    QStringList candidateNames() const;
    const QList<BlockedApp>& candidates() const { return m_candidates; }

    Q_INVOKABLE void selectLockup(int index);
    Q_INVOKABLE void newLockup();
    Q_INVOKABLE void deleteShown();
    // Written on every character: stored exactly as typed.
    Q_INVOKABLE void setName(const QString& text);
    // Written on every change: the site-list parser's reading of the text is stored.
    Q_INVOKABLE void setSitesText(const QString& text);
    Q_INVOKABLE void removeApp(const QString& id);
    // Rebuilds the menu's candidates from the running applications (as the menu opens).
    Q_INVOKABLE void refreshCandidates();
    Q_INVOKABLE void addCandidate(int index);

signals:
    void candidatesChanged();

protected:
    void attach(TimerModel& engine) override;

private:
    const Lockup* shown() const;
    // Replaces the shown lockup with `edit`'s result; the engine stores it and re-derives blocking.
    template <class F> void editShown(F edit);
    void forgetRejectedOfAnother();

    Workspace* m_workspace = nullptr;
    QList<BlockedApp> m_candidates;
    QList<QPair<QString, SitePiece::Why>> m_rejected;
    QUuid m_rejectedFor; // the lockup m_rejected was typed into
};
