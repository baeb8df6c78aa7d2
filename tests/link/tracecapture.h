#pragma once

// The line trace's messages, caught while a TraceCapture lives; other messages go on to the
// handler that was there before.

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>

class TraceCapture
{
public:
    // on: the trace switched on as QT_LOGGING_RULES="velmora.link.debug=true" does; otherwise
    // left as shipped.
    explicit TraceCapture(bool on = true)
    {
        QLoggingCategory::setFilterRules(on ? QStringLiteral("velmora.link.debug=true")
                                            : QString());
        current_ = this;
        previous_ = qInstallMessageHandler(handle);
    }
    ~TraceCapture()
    {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules(QString());
        current_ = nullptr;
    }
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    QStringList lines;

    // A note of the test's own among the lines, such as when a write reached the port.
    void note(const QString &what) { lines << QStringLiteral("= ") + what; }

    // The lines without their time stamps. A line without a stamp, or a stamp earlier than the
    // one before it other than at an open (which starts the clock again), is kept whole behind
    // "BAD STAMP: ", so a comparison shows it.
    QStringList events() const
    {
        static const QRegularExpression stamped(QStringLiteral("^ *(\\d+\\.\\d{3}) ms (.+)$"));
        QStringList out;
        double last = -1;
        for (const QString &line : lines) {
            if (line.startsWith(QStringLiteral("= "))) {
                out << line;
                continue;
            }
            const QRegularExpressionMatch m = stamped.match(line);
            const double t = m.hasMatch() ? m.captured(1).toDouble() : -1;
            const bool opened = m.captured(2).startsWith(QStringLiteral("open port")) &&
                                !m.captured(2).contains(QStringLiteral(" refused: "));
            if (!m.hasMatch() || (t < last && !opened))
                out << QStringLiteral("BAD STAMP: ") + line;
            else
                out << m.captured(2);
            last = t;
        }
        return out;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (current_ && qstrcmp(context.category, "velmora.link") == 0)
            current_->lines << message;
        else if (previous_)
            previous_(type, context, message);
    }

    static inline TraceCapture *current_ = nullptr;
    static inline QtMessageHandler previous_ = nullptr;
};
