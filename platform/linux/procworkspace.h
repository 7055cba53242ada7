#pragma once

#include "platform/workspace.h"

// The user's running applications, read from /proc.
class ProcWorkspace final : public Workspace {
    Q_OBJECT
public:
    explicit ProcWorkspace(QObject* parent = nullptr);

    QList<RunningApp> runningApplications() override;
    bool terminate(const RunningApp& app) override;
    void forceTerminate(const RunningApp& app) override;
    bool isTerminated(const RunningApp& app) override;
    void setWatchingLaunches(bool on) override;
};
