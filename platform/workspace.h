#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// One running application as the workspace sees it.
struct RunningApp {
    qint64 pid = 0;          // the process that stands for the application
    QString bundleID;        // its main identifier (desktop-file ID, else executable name); may be empty
    QStringList identifiers; // every identifier that names it, main one first
    QString name;            // display name
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

signals:
    void launched(const RunningApp& app);
};
