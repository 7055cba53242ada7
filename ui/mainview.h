// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/records.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <functional>

class CalendarService;
class Clock;
class TimerModel;

// Which side panel is open.
enum class Panel { none, settings, lists, schedule, stats };

// Everything the popover's main view shows, as properties: texts in the current language, colours,
// visibility and enabled states. The QML view only lays them out; its controls call the slots
// below. Properties that change every second (the clock, the bar, the allowance and meeting times)
// notify `tickChanged`; the rest notify `stateChanged`, only when something really changed.
class MainView : public QObject {
    Q_OBJECT
    // Named apart from the view's own QML file, MainView.qml.
    QML_NAMED_ELEMENT(MainViewModel)
    QML_UNCREATABLE("made by the shell, one per popover")

    // Header
    Q_PROPERTY(bool closedSetVisible READ closedSetVisible NOTIFY stateChanged)
    Q_PROPERTY(QString closedSetText READ closedSetText NOTIFY stateChanged)
    Q_PROPERTY(bool recVisible READ recVisible NOTIFY stateChanged)
    // One line while a store could not be saved; empty otherwise.
    Q_PROPERTY(QString saveFailedText READ saveFailedText NOTIFY stateChanged)
    // Calendar card: "meeting", "empty", "connect" or "off"
    Q_PROPERTY(bool calendarVisible READ calendarVisible NOTIFY stateChanged)
    Q_PROPERTY(QString calendarState READ calendarState NOTIFY stateChanged)
    Q_PROPERTY(bool meetingNow READ meetingNow NOTIFY tickChanged)
    Q_PROPERTY(QString meetingTag READ meetingTag NOTIFY tickChanged)
    Q_PROPERTY(QString meetingTitle READ meetingTitle NOTIFY stateChanged)
    Q_PROPERTY(QString meetingRelative READ meetingRelative NOTIFY tickChanged)
    Q_PROPERTY(QColor meetingColor READ meetingColor NOTIFY stateChanged)
    Q_PROPERTY(bool joinVisible READ joinVisible NOTIFY stateChanged)
    Q_PROPERTY(QString joinText READ joinText NOTIFY stateChanged)
    Q_PROPERTY(QString joinTooltip READ joinTooltip NOTIFY stateChanged)
    Q_PROPERTY(QString calendarText READ calendarText NOTIFY stateChanged)
    Q_PROPERTY(QString openSettingsText READ openSettingsText NOTIFY stateChanged)
    // Timer block
    Q_PROPERTY(QColor phaseColor READ phaseColor NOTIFY stateChanged)
    Q_PROPERTY(QString phaseTitle READ phaseTitle NOTIFY stateChanged)
    Q_PROPERTY(QString lockSymbol READ lockSymbol NOTIFY stateChanged)
    Q_PROPERTY(QString clockText READ clockText NOTIFY tickChanged)
    Q_PROPERTY(double progress READ progress NOTIFY tickChanged)
    Q_PROPERTY(QString subtitle READ subtitle NOTIFY stateChanged)
    // Control row
    Q_PROPERTY(QString primaryLabel READ primaryLabel NOTIFY stateChanged)
    Q_PROPERTY(QColor primaryTextColor READ primaryTextColor NOTIFY stateChanged)
    Q_PROPERTY(QString secondaryLabel READ secondaryLabel NOTIFY stateChanged)
    Q_PROPERTY(bool cutEnabled READ cutEnabled NOTIFY stateChanged)
    // Password row
    Q_PROPERTY(bool pwForCut READ pwForCut NOTIFY stateChanged)
    Q_PROPERTY(QString pwInput READ pwInput WRITE setPwInput NOTIFY pwInputChanged)
    Q_PROPERTY(QString pwPlaceholder READ pwPlaceholder NOTIFY stateChanged)
    Q_PROPERTY(QString unlockText READ unlockText NOTIFY stateChanged)
    // Gate picker: chips with kind, label, tooltip and selected
    Q_PROPERTY(bool gatePickerVisible READ gatePickerVisible NOTIFY stateChanged)
    Q_PROPERTY(QString gateCaption READ gateCaption NOTIFY stateChanged)
    Q_PROPERTY(QVariantList gateChips READ gateChips NOTIFY stateChanged)
    // Allowance row
    Q_PROPERTY(bool allowanceVisible READ allowanceVisible NOTIFY stateChanged)
    Q_PROPERTY(QString allowanceSymbol READ allowanceSymbol NOTIFY stateChanged)
    Q_PROPERTY(QString allowanceText READ allowanceText NOTIFY tickChanged)
    Q_PROPERTY(QString setButtonText READ setButtonText NOTIFY stateChanged)
    Q_PROPERTY(bool setButtonEnabled READ setButtonEnabled NOTIFY stateChanged)
    Q_PROPERTY(QColor setButtonColor READ setButtonColor NOTIFY stateChanged)
    // Day strip
    Q_PROPERTY(QString todayText READ todayText NOTIFY stateChanged)
    Q_PROPERTY(QString focusedLine READ focusedLine NOTIFY tickChanged)
    Q_PROPERTY(QString takesCount READ takesCount NOTIFY stateChanged)
    Q_PROPERTY(QString takesLabel READ takesLabel NOTIFY stateChanged)
    Q_PROPERTY(QVariantList reelDots READ reelDots NOTIFY stateChanged)
    Q_PROPERTY(bool lockupVisible READ lockupVisible NOTIFY stateChanged)
    Q_PROPERTY(QString lockupName READ lockupName NOTIFY stateChanged)
    Q_PROPERTY(QString lockupCounts READ lockupCounts NOTIFY stateChanged)
    // Panel switcher and side panel: buttons with panel, symbol, tooltip and open
    Q_PROPERTY(QString panel READ panelName NOTIFY stateChanged)
    Q_PROPERTY(QVariantList panelButtons READ panelButtons NOTIFY stateChanged)
    Q_PROPERTY(QString panelSource READ panelSource NOTIFY stateChanged)
    Q_PROPERTY(QString panelTitle READ panelTitle NOTIFY stateChanged)
    Q_PROPERTY(QString quitText READ quitText NOTIFY stateChanged)
    Q_PROPERTY(QString quitTooltip READ quitTooltip NOTIFY stateChanged)
    // The engine and the calendar service, handed to the side panels.
    Q_PROPERTY(QObject* engine READ engineObject CONSTANT)
    Q_PROPERTY(QObject* calendar READ calendarObject CONSTANT)

public:
    MainView(TimerModel& engine, CalendarService& calendar, Clock& clock, QObject* parent = nullptr);
    ~MainView() override;

    // While inactive (the popover is closed) the view only notes that it is out of date; it catches
    // up when it becomes active, and then refreshes the times each second.
    void setActive(bool active);
    bool active() const { return m_active; }

    // The quit control, once the view has decided: the password quit alert, or a terminate request.
    std::function<void()> onPasswordQuit;
    std::function<void()> onTerminate;
    // Opens a meeting link with the desktop's URL handler.
    std::function<void(const QUrl&)> openUrl;

    struct Tick {
        bool meetingNow = false;
        QString meetingTag, meetingRelative, clockText, allowanceText, focusedLine;
        double progress = 0;
        bool operator==(const Tick&) const = default;
    };
    struct State {
        bool closedSetVisible = false, recVisible = false, calendarVisible = false, joinVisible = false;
        QString closedSetText, saveFailedText, calendarState, meetingTitle, joinText, joinTooltip,
            calendarText, openSettingsText;
        QColor meetingColor, phaseColor, primaryTextColor, setButtonColor;
        QString phaseTitle, lockSymbol, subtitle, primaryLabel, secondaryLabel;
        bool cutEnabled = false, pwForCut = false, gatePickerVisible = false, allowanceVisible = false;
        bool setButtonEnabled = false, lockupVisible = false;
        QString pwPlaceholder, unlockText, gateCaption, allowanceSymbol, setButtonText;
        QVariantList gateChips, reelDots, panelButtons;
        QString todayText, takesCount, takesLabel, lockupName, lockupCounts;
        QString panel, panelSource, panelTitle, quitText, quitTooltip;
        bool operator==(const State&) const = default;
    };
    const State& state() const { return m_state; }
    const Tick& tick() const { return m_tick; }
    Panel currentPanel() const { return m_panel; }

#define MIVRA_GET(T, name, part)                                                                             \
    T name() const {                                                                                         \
        return (part).name;                                                                                  \
    }
    MIVRA_GET(bool, closedSetVisible, m_state)
    MIVRA_GET(QString, closedSetText, m_state)
    MIVRA_GET(bool, recVisible, m_state)
    MIVRA_GET(QString, saveFailedText, m_state)
    MIVRA_GET(bool, calendarVisible, m_state)
    MIVRA_GET(QString, calendarState, m_state)
    MIVRA_GET(bool, meetingNow, m_tick)
    MIVRA_GET(QString, meetingTag, m_tick)
    MIVRA_GET(QString, meetingTitle, m_state)
    MIVRA_GET(QString, meetingRelative, m_tick)
    MIVRA_GET(QColor, meetingColor, m_state)
    MIVRA_GET(bool, joinVisible, m_state)
    MIVRA_GET(QString, joinText, m_state)
    MIVRA_GET(QString, joinTooltip, m_state)
    MIVRA_GET(QString, calendarText, m_state)
    MIVRA_GET(QString, openSettingsText, m_state)
    MIVRA_GET(QColor, phaseColor, m_state)
    MIVRA_GET(QString, phaseTitle, m_state)
    MIVRA_GET(QString, lockSymbol, m_state)
    MIVRA_GET(QString, clockText, m_tick)
    MIVRA_GET(double, progress, m_tick)
    MIVRA_GET(QString, subtitle, m_state)
    MIVRA_GET(QString, primaryLabel, m_state)
    MIVRA_GET(QColor, primaryTextColor, m_state)
    MIVRA_GET(QString, secondaryLabel, m_state)
    MIVRA_GET(bool, cutEnabled, m_state)
    MIVRA_GET(bool, pwForCut, m_state)
    MIVRA_GET(QString, pwPlaceholder, m_state)
    MIVRA_GET(QString, unlockText, m_state)
    MIVRA_GET(bool, gatePickerVisible, m_state)
    MIVRA_GET(QString, gateCaption, m_state)
    MIVRA_GET(QVariantList, gateChips, m_state)
    MIVRA_GET(bool, allowanceVisible, m_state)
    MIVRA_GET(QString, allowanceSymbol, m_state)
    MIVRA_GET(QString, allowanceText, m_tick)
    MIVRA_GET(QString, setButtonText, m_state)
    MIVRA_GET(bool, setButtonEnabled, m_state)
    MIVRA_GET(QColor, setButtonColor, m_state)
    MIVRA_GET(QString, todayText, m_state)
    MIVRA_GET(QString, focusedLine, m_tick)
    MIVRA_GET(QString, takesCount, m_state)
    MIVRA_GET(QString, takesLabel, m_state)
    MIVRA_GET(QVariantList, reelDots, m_state)
    MIVRA_GET(bool, lockupVisible, m_state)
    MIVRA_GET(QString, lockupName, m_state)
    MIVRA_GET(QString, lockupCounts, m_state)
    MIVRA_GET(QVariantList, panelButtons, m_state)
    MIVRA_GET(QString, panelSource, m_state)
    MIVRA_GET(QString, panelTitle, m_state)
    MIVRA_GET(QString, quitText, m_state)
    MIVRA_GET(QString, quitTooltip, m_state)
#undef MIVRA_GET
    QString panelName() const {
        return m_state.panel;
    }
    QString pwInput() const {
        return m_pwInput;
    }
    void setPwInput(const QString& text);
    QObject* engineObject() const;
    QObject* calendarObject() const;

public slots:
    void primary();
    void secondary();
    void unlock();
    void cancelPassword();
    void pickGate(int kind);
    void toggleSet();
    void connectCalendar();
    void openCalendarSettings();
    void join();
    void togglePanel(const QString& name);
    void quit();
    // Recomputes everything now and announces what changed.
    void refresh();

signals:
    void stateChanged();
    void tickChanged();
    void pwInputChanged();

private:
    void changed();
    State computeState() const;
    Tick computeTick() const;

    TimerModel& m_engine;
    CalendarService& m_calendar;
    Clock& m_clock;
    State m_state;
    Tick m_tick;
    Panel m_panel = Panel::none;
    bool m_pwForCut = false;
    QString m_pwInput;
    bool m_active = false;
    bool m_stale = true;
    QTimer m_second;
};

// Filled reel dots for `takes` printed today on a reel of `reel` takes (at least 1): a completed
// reel stays full until the next take.
int filledReelDots(qint64 takes, qint64 reel);
// The progress bar's share, 0 to 1, of a phase of `length` seconds with `remaining` left.
double phaseProgress(qint64 remaining, qint64 length);
