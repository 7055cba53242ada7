// Installing and removing the root helper.
#include "blocking/blocker.h"

#include "blocking/rootside.h"
#include "engine/loc.h"
#include "platform/privilegedrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSaveFile>
#include <QStringDecoder>

#include <thread>

#ifndef MIVRA_INSTALL_LIBEXECDIR
#define MIVRA_INSTALL_LIBEXECDIR "/usr/local/libexec"
#endif

using namespace Qt::StringLiterals;

// What one privileged run means for the message under the helper controls.
struct Blocker::RunOutcome {
    enum class Message { keep, clear, set };
    bool ok = false;
    Message message = Message::keep;
    QString text;
};

// Everything staging needs, copied so that the worker thread never touches the Blocker.
struct Blocker::StagePlan {
    RootLayout layout;
    QString directory;
    QStringList daemonCandidates;
};

namespace {

// Staging failures are not reported here: a missing file makes the script fail, with its message.
void writeStaged(const QString& path, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()) f.commit();
}

// The script's standard error as one line of text; undecodable bytes give nothing.
QString decodeStandardError(const QByteArray& bytes) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(bytes);
    return decode.hasError() ? QString() : text.trimmed();
}

// pkexec's status when the person dismissed the authentication prompt.
constexpr int promptDismissed = 126;

} // namespace

QStringList Blocker::daemonCandidates() const {
    if (!m_daemonCandidates.isEmpty()) return m_daemonCandidates;
    return {QCoreApplication::applicationDirPath() + u"/mivra-blockpage"_s,
            QString::fromUtf8(MIVRA_INSTALL_LIBEXECDIR) + u"/mivra/mivra-blockpage"_s};
}

Blocker::StagePlan Blocker::stagePlan() const {
    return {m_layout, m_stagingDirectory, daemonCandidates()};
}

Blocker::RunOutcome Blocker::stageAndRun(PrivilegedRunner& runner, const StagePlan& plan,
                                         const QString& script) {
    const QString dir = plan.directory;
    QDir().mkpath(dir);
    const RootSide side(hostRootPlatform(), plan.layout);
    writeStaged(dir + u"/lockup-apply.sh"_s, side.applierScript());
    for (const RootFile& job : side.jobFiles())
        writeStaged(dir + u'/' + job.name, job.text);

    // The daemon goes in before the script that installs it.
    const QString daemon = dir + u"/mivra-blockpage"_s;
    QFile::remove(daemon);
    for (const QString& candidate : plan.daemonCandidates) {
        if (QFile::exists(candidate)) {
            QFile::copy(candidate, daemon);
            break;
        }
    }
    const QString runScript = dir + u"/run.sh"_s;
    writeStaged(runScript, script);

    const PrivilegedResult result = runner.run(runScript);
    if (!result.started) return {false, RunOutcome::Message::set, result.startError};
    if (result.exitCode == 0) return {true, RunOutcome::Message::clear, {}};
    if (result.exitCode == promptDismissed) return {false, RunOutcome::Message::clear, {}};
    const QString text = decodeStandardError(result.standardError);
    if (text.isEmpty()) return {false, RunOutcome::Message::keep, {}};
    return {false, RunOutcome::Message::set, text};
}

void Blocker::publish(const RunOutcome& outcome) {
    switch (outcome.message) {
    case RunOutcome::Message::keep:
        break;
    case RunOutcome::Message::clear:
        setLastError(std::nullopt);
        break;
    case RunOutcome::Message::set:
        setLastError(outcome.text);
        break;
    }
}

bool Blocker::runPrivileged(const QString& script) {
    const RunOutcome outcome = stageAndRun(m_runner, stagePlan(), script);
    QMetaObject::invokeMethod(
        this, [this, outcome] { publish(outcome); }, Qt::QueuedConnection);
    return outcome.ok;
}

void Blocker::startRun(const QString& script, bool installing, std::function<void(bool)> completion) {
    // The worker holds only copies and the runner (which outlives the engine); its result comes
    // back through the application object, and is dropped if the Blocker is gone by then.
    QPointer<Blocker> self(this);
    PrivilegedRunner* runner = &m_runner;
    std::thread([self, runner, plan = stagePlan(), script, installing,
                 completion = std::move(completion)]() mutable {
        const RunOutcome outcome = stageAndRun(*runner, plan, script);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, outcome, installing, completion = std::move(completion)] {
                if (!self) return;
                self->publish(outcome);
                self->refresh();
                if (installing && !outcome.ok && !self->m_lastError)
                    self->setLastError(
                        pick(u"Install was cancelled or failed."_s, u"Installation annulée ou échouée."_s));
                const bool result = installing ? self->m_installed : outcome.ok && !self->m_installed;
                if (completion) completion(result);
            },
            Qt::QueuedConnection);
    }).detach();
}

void Blocker::install(std::function<void(bool)> completion) {
    startRun(RootSide(hostRootPlatform(), m_layout).installScript(m_stagingDirectory), true,
             std::move(completion));
}

void Blocker::uninstall(std::function<void(bool)> completion) {
    startRun(RootSide(hostRootPlatform(), m_layout).removalScript(), false, std::move(completion));
}
