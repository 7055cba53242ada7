// SPDX-License-Identifier: GPL-3.0-or-later
// mivractl: Mivra's state and controls from a shell or a status bar, over the session bus.
#include "mivractl/control.h"
#include "mivractl/helpercmd.h"
#include "platform/linux/pkexecrunner.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QStandardPaths>

#include <QDir>
#include <QHash>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const QString service = u"app.oriflan.mivra"_s;
const QString path = u"/app/oriflan/mivra"_s;
const QString iface = u"app.oriflan.Mivra1"_s;
const QString propertiesIface = u"org.freedesktop.DBus.Properties"_s;

void out(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
void err(const QString& text) {
    const QByteArray line = "mivractl: "_ba + text.toUtf8() + '\n';
    std::fputs(line.constData(), stderr);
}

QString notRunningText(const QString& lang) {
    return Ctl::pick(lang, u"Mivra isn't running."_s, u"Mivra n'est pas lancé."_s);
}

QString notAnsweringText(const QString& lang) {
    return Ctl::pick(lang, u"Mivra doesn't answer: it is hung or stopped."_s,
                     u"Mivra ne répond pas : il est bloqué ou arrêté."_s);
}

// Every call shares one budget, so that a Mivra that does not answer is told in time whatever the
// command. Reading a password is not counted.
QDeadlineTimer budget;
void restartBudget() {
    budget.setRemainingTime(Ctl::kAnswerMs);
}
int callTimeout() {
    return int(std::max<qint64>(1, budget.remainingTime()));
}

// The last word should the bus itself hang (a call that never returns to the event loop): the
// process ends with the message prepared beforehand.
char watchdogLine[256];
size_t watchdogSize = 0;
void setWatchdogText(const QString& lang) {
    const QByteArray line = "mivractl: "_ba + notAnsweringText(lang).toUtf8() + '\n';
    watchdogSize = 0;
    std::memcpy(watchdogLine, line.constData(),
                size_t(std::min<qsizetype>(line.size(), sizeof watchdogLine)));
    watchdogSize = size_t(std::min<qsizetype>(line.size(), sizeof watchdogLine));
}
void armWatchdog() {
    std::signal(SIGALRM, [](int) {
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, watchdogLine, watchdogSize);
        ::_exit(Ctl::notAnswering);
    });
    itimerval t{};
    t.it_value.tv_usec = (Ctl::kAnswerMs + 300) * 1000;
    t.it_value.tv_sec = t.it_value.tv_usec / 1000000;
    t.it_value.tv_usec %= 1000000;
    ::setitimer(ITIMER_REAL, &t, nullptr);
}
void disarmWatchdog() {
    itimerval t{};
    ::setitimer(ITIMER_REAL, &t, nullptr);
}

bool timedOut(const QDBusError& e) {
    return e.type() == QDBusError::NoReply || e.type() == QDBusError::Timeout ||
           e.type() == QDBusError::TimedOut;
}

bool absent(const QDBusError& e) {
    return e.type() == QDBusError::ServiceUnknown ||
           e.name() == u"org.freedesktop.DBus.Error.NameHasNoOwner" ||
           e.type() == QDBusError::UnknownObject || e.type() == QDBusError::Disconnected;
}

// GetAll; nothing when Mivra is not on the bus, with `hung` set when it is there but does not answer.
std::optional<QVariantMap> readAll(QDBusConnection& bus, bool* hung = nullptr, int timeoutMs = -1) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, propertiesIface, u"GetAll"_s);
    call << iface;
    // Reading never starts Mivra (the session bus could, from its service file); only `show` does.
    call.setAutoStartService(false);
    const QDBusReply<QVariantMap> reply = bus.call(call, QDBus::Block, timeoutMs);
    if (hung) *hung = !reply.isValid() && timedOut(reply.error());
    if (!reply.isValid()) return std::nullopt;
    return Ctl::plain(reply.value());
}

// A line from standard input, without echo when it is a terminal.
QString readPassword(const QString& lang) {
    const bool tty = ::isatty(STDIN_FILENO);
    termios saved{};
    if (tty) {
        std::fputs(
            Ctl::pick(lang, u"Gate password: "_s, u"Mot de passe de la barrière : "_s).toUtf8().constData(),
            stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (tty) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputc('\n', stderr);
    }
    // The password is used exactly as typed; only the line's end is dropped.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QString::fromStdString(line);
}

// Follows Mivra's properties and prints a bar line whenever that line changes: the JSON object, or
// with `plain` only its text, for bars that show each line they read.
class Watch : public QObject {
    Q_OBJECT
public:
    Watch(QDBusConnection bus, QString lang, bool plain)
        : m_bus(std::move(bus)), m_lang(std::move(lang)), m_plain(plain) {
        m_bus.connect(service, path, propertiesIface, u"PropertiesChanged"_s, this,
                      SLOT(changed(QDBusMessage)));
        auto* watcher =
            new QDBusServiceWatcher(service, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &Watch::reload);
        reload();
    }

public slots:
    void changed(const QDBusMessage& m) {
        const QList<QVariant> args = m.arguments();
        if (args.size() < 2 || args[0].toString() != iface || m_props.isEmpty()) return;
        const QVariantMap changed = Ctl::plain(qdbus_cast<QVariantMap>(args[1]));
        for (auto it = changed.cbegin(); it != changed.cend(); ++it)
            m_props.insert(it.key(), it.value());
        m_lang = Ctl::language(m_props);
        print(Ctl::barJson(m_props));
    }

private:
    void reload() {
        if (auto all = readAll(m_bus)) {
            m_props = *all;
            m_lang = Ctl::language(m_props);
            print(Ctl::barJson(m_props));
        } else {
            m_props.clear();
            print(Ctl::barStopped(m_lang));
        }
    }
    void print(const QJsonObject& o) {
        const QString line = m_plain ? o.value(u"text"_s).toString()
                                     : QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
        if (m_last == line) return;
        m_last = line;
        out(line);
    }

    QDBusConnection m_bus;
    QString m_lang;
    bool m_plain = false;
    QVariantMap m_props;
    std::optional<QString> m_last;
};

// Calls a method; on a refusal prints Mivra's message. Returns the reply, or nothing on failure
// with `status` set.
std::optional<QDBusMessage> invoke(QDBusConnection& bus, const QString& method, const QVariantList& args,
                                   const QString& lang, int& status) {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, iface, method);
    call.setArguments(args);
    const QDBusMessage reply = bus.call(call, QDBus::Block, callTimeout());
    if (reply.type() != QDBusMessage::ErrorMessage) return reply;
    const QDBusError e(reply);
    if (timedOut(e)) {
        err(notAnsweringText(lang));
        status = Ctl::notAnswering;
    } else if (absent(e)) {
        err(notRunningText(lang));
        status = Ctl::notRunning;
    } else {
        err(e.message().isEmpty() ? e.name() : e.message());
        status = Ctl::refused;
    }
    return std::nullopt;
}

QString gateRefusal(const QVariantMap& p, const QString& lang, bool quitting) {
    if (p.value(u"LockKind"_s).toString() == u"timer")
        return quitting
                   ? Ctl::pick(
                         lang,
                         u"Gate's locked to the timer. You can't quit Mivra mid-take while the gate is "
                         u"locked. Finish the take, or wait the clock out."_s,
                         u"La barrière est verrouillée au minuteur. Tu ne peux pas quitter Mivra en pleine "
                         u"mivra tant que la barrière est verrouillée. Termine la mivra, ou laisse le "
                         u"chrono finir."_s)
                   : Ctl::pick(lang, u"Gate's locked to the timer."_s,
                               u"La barrière est verrouillée au minuteur."_s);
    return Ctl::pick(lang, u"Wrong password."_s, u"Mauvais mot de passe."_s);
}
} // namespace

#ifndef MIVRA_VERSION
#define MIVRA_VERSION ""
#endif

int run(QDBusConnection& bus) {
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);

    if (command == u"--version" && args.size() == 1) {
        out(u"mivractl "_s + QStringLiteral(MIVRA_VERSION));
        return Ctl::ok;
    }

    // Only the status needs the properties before anything else; the language comes with them.
    bool hung = false;
    std::optional<QVariantMap> props = bus.isConnected() ? readAll(bus, &hung, callTimeout()) : std::nullopt;
    const QString lang = Ctl::language(props.value_or(QVariantMap{}));
    setWatchdogText(lang);

    if (command.isEmpty() || command == u"--help" || command == u"-h" || command == u"help") {
        std::fputs(Ctl::helpText(lang).toUtf8().constData(), command.isEmpty() ? stderr : stdout);
        return command.isEmpty() ? Ctl::usage : Ctl::ok;
    }

    if (command == u"helper" && args.size() == 2 && (args[1] == u"status" || args[1] == u"remove")) {
        disarmWatchdog(); // the root side's state, and a removal that waits for the password prompt
        const RootLayout layout = RootLayout::linuxLayout();
        QString text;
        if (args[1] == u"status") {
            const int status = Ctl::helperStatus(layout, lang, text);
            out(text);
            return status;
        }
        QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (data.isEmpty()) data = QDir::homePath() + u"/.local/share"_s;
        PkexecRunner runner;
        const int status = Ctl::helperRemove(layout, data + u"/Mivra/install"_s, runner, lang, text);
        if (status == Ctl::ok)
            out(text);
        else
            err(text);
        return status;
    }

    static const QStringList simple{u"roll"_s,      u"pause"_s, u"cut"_s,  u"skip"_s, u"open-set"_s,
                                    u"close-set"_s, u"show"_s,  u"quit"_s, u"watch"_s};
    const bool json = command == u"status" && args.size() == 2 && args[1] == u"--json";
    const bool plainWatch = command == u"watch" && args.size() == 2 && args[1] == u"--plain";
    const bool known = (command == u"status" && (args.size() == 1 || json)) || plainWatch ||
                       (simple.contains(command) && args.size() == 1);
    if (!known) {
        err(Ctl::pick(lang, u"unknown command: "_s, u"commande inconnue : "_s) + args.join(u' ') + u"\n"_s +
            Ctl::pick(lang, u"See mivractl --help."_s, u"Voir mivractl --help."_s));
        return Ctl::usage;
    }

    if (command == u"watch") {
        if (!bus.isConnected()) {
            err(Ctl::pick(lang, u"No session bus."_s, u"Pas de bus de session."_s));
            return Ctl::notRunning;
        }
        disarmWatchdog();
        Watch w(bus, lang, plainWatch);
        return QCoreApplication::exec();
    }

    if (hung) {
        err(notAnsweringText(lang));
        return Ctl::notAnswering;
    }
    if (!props && command == u"show") {
        // `show` starts Mivra when it is not running: the session bus activates it for the call,
        // which takes as long as Mivra's start-up.
        disarmWatchdog();
        budget.setRemainingTime(Ctl::kActivateMs);
    } else if (!props) {
        err(notRunningText(lang));
        return Ctl::notRunning;
    }

    if (command == u"status") {
        out(json ? QString::fromUtf8(QJsonDocument(Ctl::statusJson(*props)).toJson(QJsonDocument::Compact))
                 : Ctl::statusLine(*props));
        return Ctl::ok;
    }

    int status = Ctl::ok;
    static const QHash<QString, QString> methods{
        {u"roll"_s, u"RollOrResume"_s}, {u"pause"_s, u"Pause"_s},        {u"skip"_s, u"SkipBreak"_s},
        {u"open-set"_s, u"OpenSet"_s},  {u"close-set"_s, u"CloseSet"_s}, {u"show"_s, u"ShowPopover"_s}};
    if (methods.contains(command)) {
        invoke(bus, methods.value(command), {}, lang, status);
        return status;
    }

    // cut and quit: the gate may want its password.
    const bool quitting = command == u"quit";
    QString password;
    if (props && props->value(u"GateLocked"_s).toBool() &&
        props->value(u"LockKind"_s).toString() == u"password") {
        disarmWatchdog();
        password = readPassword(lang);
        restartBudget();
        armWatchdog();
    }
    const auto reply = invoke(bus, quitting ? u"Quit"_s : u"Cut"_s, {password}, lang, status);
    if (!reply) return status;
    if (!reply->arguments().value(0).toBool()) {
        err(gateRefusal(*props, lang, quitting));
        return Ctl::refused;
    }
    return Ctl::ok;
}

int main(int argc, char** argv) {
    // Standard error carries mivractl's own messages only: scripts and bars read it. Qt's
    // diagnostics (QtDBus may warn about its types while a connection winds down) stay out.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg) err(message);
    });
    restartBudget();
    setWatchdogText(Ctl::language({}));
    armWatchdog();
    QCoreApplication app(argc, argv);
    int status;
    {
        // A connection of our own, closed before the application goes, so that nothing arrives
        // while Qt is tearing down.
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"mivractl"_s);
        status = run(bus);
    }
    QDBusConnection::disconnectFromBus(u"mivractl"_s);
    return status;
}

#include "main.moc"
