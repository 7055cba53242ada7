// SPDX-License-Identifier: GPL-3.0-or-later
// Installing and removing the root helper.
#include "blocking/blocker.h"

#include "blocking/rootside.h"
#include "engine/loc.h"
#include "platform/privilegedrunner.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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
void writeStaged(const QString& path, const QByteArray& bytes, bool executable = false) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return;
    if (executable)
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                         QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                         QFileDevice::ExeOther);
    f.commit();
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
                                         const ScriptFor& scriptFor) {
    const QString dir = plan.directory;
    QDir().mkpath(dir);
    const RootSide side(hostRootPlatform(), plan.layout);
    // What is staged is hashed from the bytes in hand, never read back from the folder.
    StagedDigests digests;
    auto stage = [&](const QString& name, const QByteArray& bytes, bool executable = false) {
        writeStaged(dir + u'/' + name, bytes, executable);
        digests.insert(name, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256));
    };
    stage(u"lockup-apply.sh"_s, side.applierScript().toUtf8());
    for (const RootFile& job : side.jobFiles())
        stage(job.name, job.text.toUtf8());

    // The daemon goes in before the script that installs it.
    QFile::remove(dir + u"/mivra-blockpage"_s);
    for (const QString& candidate : plan.daemonCandidates) {
        QFile shipped(candidate);
        if (!shipped.exists()) continue;
        if (shipped.open(QIODevice::ReadOnly)) stage(u"mivra-blockpage"_s, shipped.readAll(), true);
        break;
    }
    const QString runScript = dir + u"/run.sh"_s;
    const QString script = scriptFor(digests);
    writeStaged(runScript, script.toUtf8());

    return outcomeOf(runner.runScript(runScript, script));
}

Blocker::RunOutcome Blocker::outcomeOf(const PrivilegedResult& result) {
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
    const RunOutcome outcome =
        stageAndRun(m_runner, stagePlan(), [&](const StagedDigests&) { return script; });
    QMetaObject::invokeMethod(
        this, [this, outcome] { publish(outcome); }, Qt::QueuedConnection);
    return outcome.ok;
}

void Blocker::finishRun(const RunOutcome& outcome, bool installing,
                        const std::function<void(bool)>& completion) {
    publish(outcome);
    refresh();
    if (installing && !outcome.ok && !m_lastError)
        setLastError(pick(u"Install was cancelled or failed."_s, u"Installation annulée ou échouée."_s));
    const bool result = installing ? m_installed : outcome.ok && !m_installed;
    // What was staged to install the helper goes with it.
    if (!installing && result) QDir(m_stagingDirectory).removeRecursively();
    if (completion) completion(result);
}

void Blocker::startRun(ScriptFor script, bool installing, std::function<void(bool)> completion) {
    // The worker holds only copies and the runner (which outlives the engine); its result comes
    // back through the application object, and is dropped if the Blocker is gone by then.
    QPointer<Blocker> self(this);
    PrivilegedRunner* runner = &m_runner;
    std::thread([self, runner, plan = stagePlan(), script = std::move(script), installing,
                 completion = std::move(completion)]() mutable {
        const RunOutcome outcome = stageAndRun(*runner, plan, script);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, outcome, installing, completion = std::move(completion)] {
                if (self) self->finishRun(outcome, installing, completion);
            },
            Qt::QueuedConnection);
    }).detach();
}

void Blocker::startProgram(QString program, std::function<void(bool)> completion) {
    QPointer<Blocker> self(this);
    PrivilegedRunner* runner = &m_runner;
    std::thread([self, runner, program = std::move(program), completion = std::move(completion)]() mutable {
        const RunOutcome outcome = outcomeOf(runner->runProgram(program));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, outcome, completion = std::move(completion)] {
                if (self) self->finishRun(outcome, true, completion);
            },
            Qt::QueuedConnection);
    }).detach();
}

void Blocker::refuse(const QString& message, std::function<void(bool)> completion) {
    setLastError(message);
    QMetaObject::invokeMethod(
        this,
        [completion = std::move(completion)] {
            if (completion) completion(false);
        },
        Qt::QueuedConnection);
}

void Blocker::install(std::function<void(bool)> completion) {
    const RootSide side(hostRootPlatform(), m_layout);
    if (m_state.packaged && side.platform() == RootPlatform::Linux) {
        if (!m_state.installed()) {
            QStringList units;
            for (const EnabledUnit& u : enabledHelperUnits())
                units << u.unit;
            refuse(
                pick(
                    u"The mivra package holds the helper, but its units are not enabled. Run: sudo systemctl enable --now "_s,
                    u"Le paquet mivra contient l'assistant, mais ses unités ne sont pas activées. Lance : sudo systemctl enable --now "_s) +
                    units.join(u' '),
                std::move(completion));
            return;
        }
        if (m_lockupWritable) {
            QMetaObject::invokeMethod(
                this,
                [completion = std::move(completion)] {
                    if (completion) completion(true);
                },
                Qt::QueuedConnection);
            return;
        }
        startProgram(m_layout.claimProgram(), std::move(completion));
        return;
    }
    if (m_installed && !m_lockupWritable && side.platform() == RootPlatform::Linux) {
        startRun([script = side.claimScript()](const StagedDigests&) { return script; }, true,
                 std::move(completion));
        return;
    }
    startRun([side, staging = m_stagingDirectory](
                 const StagedDigests& digests) { return side.installScript(staging, digests); },
             true, std::move(completion));
}

QString Blocker::packageOwnsHelperText() {
    return pick(
        u"The mivra package owns the blocking helper: remove it with “sudo apt remove mivra”."_s,
        u"Le paquet mivra possède l'assistant de blocage : retire-le avec « sudo apt remove mivra »."_s);
}

void Blocker::uninstall(std::function<void(bool)> completion) {
    if (m_state.packaged && hostRootPlatform() == RootPlatform::Linux) {
        refuse(packageOwnsHelperText(), std::move(completion));
        return;
    }
    startRun([script = RootSide(hostRootPlatform(), m_layout).removalScript()](
                 const StagedDigests&) { return script; },
             false, std::move(completion));
}
