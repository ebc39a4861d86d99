#include "DisplayStart.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace {

struct Held
{
    QtMsgType type;
    QByteArray category;
    QString text;
};

QtMessageHandler previous = nullptr;
QList<Held> *held = nullptr;

QString cause(const QString &fatal)
{
    // The platform plugin's own complaint names the display; the plugin loader's lines that follow it
    // only say that no plugin could start.
    for (const Held &message : std::as_const(*held)) {
        if (message.type != QtDebugMsg && message.category != "qt.qpa.plugin")
            return message.text;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set");
    return fatal.section(QLatin1Char('\n'), 0, 0);
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        held->append({type, QByteArray(context.category), text});
        return;
    }
    QString reason = cause(text).simplified();
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    const QByteArray line =
        QStringLiteral("trox_inst_env: no display could be opened (%1). Start it inside a desktop session; "
                       "with pkexec or sudo, the display and its permission must be passed on.\n")
            .arg(reason)
            .toLocal8Bit();
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

namespace DisplayStart {

void guard()
{
    held = new QList<Held>;
    previous = qInstallMessageHandler(handler);
}

void opened()
{
    qInstallMessageHandler(previous);
    for (const Held &message : std::as_const(*held)) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        previous(message.type, context, message.text);
    }
    delete held;
    held = nullptr;
}

} // namespace DisplayStart
