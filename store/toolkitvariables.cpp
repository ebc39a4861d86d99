#include "platform.h"

#include <QProcessEnvironment>
#include <QRegularExpression>

namespace {

// Settings of the toolkit that only scale or log what the tool shows; every other variable of the
// toolkit, its QML engine and its bus module can name plugins, libraries, style sheets, fonts,
// input methods, configuration files or debuggers.
const char *const harmless[] = {"QT_SCALE_FACTOR",
                                "QT_SCREEN_SCALE_FACTORS",
                                "QT_ENABLE_HIGHDPI_SCALING",
                                "QT_SCALE_FACTOR_ROUNDING_POLICY",
                                "QT_FONT_DPI",
                                "QT_ACCESSIBILITY",
                                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON",
                                "QT_LOGGING_RULES"};

bool isToolkitVariable(const QString &name)
{
    for (const char *prefix : {"QT_", "QML", "QSG_", "QV4_", "QDBUS_", "Q_DBUS_", "QTWEBENGINE"}) {
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

} // namespace

void dropToolkitVariables(const QList<QByteArray> &others)
{
    const QStringList names = QProcessEnvironment::systemEnvironment().keys();
    for (const QString &name : names) {
        if (!isToolkitVariable(name))
            continue;
        bool kept = false;
        for (const char *allowed : harmless)
            kept = kept || name == QLatin1String(allowed);
        // "xcb" or "wayland;xcb": names only; arguments after a colon can name files.
        static const QRegularExpression plainNames(QStringLiteral("^[A-Za-z0-9_-]+(;[A-Za-z0-9_-]+)*$"));
        if (name == QLatin1String("QT_QPA_PLATFORM"))
            kept = plainNames.match(qEnvironmentVariable("QT_QPA_PLATFORM")).hasMatch();
        if (!kept)
            qunsetenv(name.toLocal8Bit().constData());
    }
    for (const QByteArray &name : others)
        qunsetenv(name.constData());
}
