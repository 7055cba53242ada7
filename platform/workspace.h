// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One process of a running application, with the time it started so that a process id the
// system has since handed to another process is never mistaken for it.
struct AppProcess {
    qint64 pid = 0;
    quint64 started = 0; // platform clock ticks since boot; 0 when unknown
};

// One running application as the workspace sees it.
struct RunningApp {
    qint64 pid = 0;          // the process that stands for the application
    QString bundleID;        // its main identifier (desktop-file ID, else executable name); may be empty
    QStringList identifiers; // every identifier that names it, main one first
    QString name;            // display name
    bool regular = false;    // listed in the desktop's application menus (not a background process)
    // Linux: the control group of the application's unit when the whole group is the application
    // (terminating it reaches every process in the group); empty otherwise.
    QString cgroup;
    QList<AppProcess> processes; // the processes seen when the list was taken
};

// The desktop's running applications: list, terminate, and a signal when one is launched.
class Workspace : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Workspace() override = default;

    virtual QList<RunningApp> runningApplications() = 0;
    // Asks the application to quit; true when the request was delivered.
    virtual bool terminate(const RunningApp& app) = 0;
    virtual void forceTerminate(const RunningApp& app) = 0;
    virtual bool isTerminated(const RunningApp& app) = 0;
    // Starts or stops watching for launches; `launched` is emitted while watching.
    virtual void setWatchingLaunches(bool on) = 0;
    // Identifiers of the platform's own vital processes, never to be terminated (lower case).
    virtual QStringList exemptIdentifiers() const { return {}; }

signals:
    void launched(const RunningApp& app);
};
