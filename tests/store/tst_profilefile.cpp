#include "linux/profilefile.h"
#include "machinestore.h"
#include "sandbox.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

#include <cerrno>

class tst_profilefile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void setKey_data();
    void setKey();
    void writeProfileString_data();
    void writeProfileString();
};

void tst_profilefile::setKey_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    // Each row sets Workstation=7 in section Network.
    QTest::newRow("new file") << QByteArray() << QByteArray("[Network]\nWorkstation=7\n");
    QTest::newRow("replaced, any case") << QByteArray("[network]\n  workstation = 3 ; old\nServer=x\n")
                                        << QByteArray("[network]\n  workstation =7\nServer=x\n");
    QTest::newRow("first key only") << QByteArray("[Network]\nWorkstation=1\nWorkstation=2\n")
                                    << QByteArray("[Network]\nWorkstation=7\nWorkstation=2\n");
    QTest::newRow("key in other section untouched")
        << QByteArray("[System]\nWorkstation=1\n\n[Network]\nServer=x\n\n[Other]\nA=1\n")
        << QByteArray("[System]\nWorkstation=1\n\n[Network]\nServer=x\nWorkstation=7\n\n[Other]\nA=1\n");
    QTest::newRow("commented key is no key") << QByteArray("[Network]\n;Workstation=1\n")
                                             << QByteArray("[Network]\n;Workstation=1\nWorkstation=7\n");
    QTest::newRow("empty section at end")
        << QByteArray("[Network]") << QByteArray("[Network]\nWorkstation=7\n");
    QTest::newRow("section appended") << QByteArray("; settings\n[System]\nA=1")
                                      << QByteArray("; settings\n[System]\nA=1\n[Network]\nWorkstation=7\n");
    QTest::newRow("first of two sections")
        << QByteArray("[Network]\nA=1\n[Network]\nWorkstation=2\n")
        << QByteArray("[Network]\nA=1\nWorkstation=7\n[Network]\nWorkstation=2\n");
    QTest::newRow("bom and crlf kept")
        << QByteArray("\xEF\xBB\xBF[Network]\r\nServer=x\r\n\r\n[System]\r\nA=1\r\n")
        << QByteArray("\xEF\xBB\xBF[Network]\r\nServer=x\r\nWorkstation=7\r\n\r\n[System]\r\nA=1\r\n");
    QTest::newRow("bom, section added in crlf")
        << QByteArray("\xEF\xBB\xBF[System]\r\nA=1\r\n")
        << QByteArray("\xEF\xBB\xBF[System]\r\nA=1\r\n[Network]\r\nWorkstation=7\r\n");
    QTest::newRow("bom only") << QByteArray("\xEF\xBB\xBF")
                              << QByteArray("\xEF\xBB\xBF[Network]\nWorkstation=7\n");
    QTest::newRow("bom, replaced in first line") << QByteArray("\xEF\xBB\xBF[ Network ]\r\nWorkstation=2")
                                                 << QByteArray("\xEF\xBB\xBF[ Network ]\r\nWorkstation=7");
    // Windows' writer keeps a UTF-16 file in UTF-16; a broken one is left alone (a null result).
    for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
        QStringEncoder utf16(encoding, QStringConverter::Flag::WriteBom);
        const QByteArray before = utf16(QStringLiteral("[System]\r\nName=\u65E5\U0001F600\r\n"));
        QTest::addRow("utf-16 %d", int(encoding))
            << before << before + QByteArray(utf16(QStringLiteral("[Network]\r\nWorkstation=7\r\n")));
        QTest::addRow("utf-16 %d, odd length", int(encoding)) << before + 'x' << QByteArray();
        QTest::addRow("utf-16 %d, half a surrogate pair", int(encoding))
            << before + QByteArray(utf16(QString(QChar(0xd800)))) << QByteArray();
    }
}

void tst_profilefile::setKey()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QByteArray result = ProfileFile::setKey(before, "Network", "Workstation", "7");
    QCOMPARE(result, after);
    QCOMPARE(result.isNull(), after.isNull());
    // A reader finds the key exactly where the writer put it.
    if (!after.isNull())
        QCOMPARE(ProfileFile::value(after, "Network", "Workstation"), QByteArray("7"));
}

void tst_profilefile::writeProfileString_data()
{
    QTest::addColumn<QString>("file");      // a bare name is in the profile directory, else under the sandbox
    QTest::addColumn<QByteArray>("before"); // null: neither the file nor its directory exists
    QTest::addColumn<QStringList>("write"); // section, key, value
    QTest::addColumn<quint32>("error");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<int>("mode"); // QFile's permissions for user, group and others, before and after
    const QString system = QStringLiteral("plant/config/system/trox_system.ini");
    const QStringList workstation{"Network", "Workstation", "3"};
    QTest::newRow("bare name, new file") << "xsv.ini" << QByteArray() << workstation << 0u
                                         << QByteArray("[Network]\nWorkstation=3\n") << 0x644;
    QTest::newRow("missing directory")
        << system << QByteArray() << workstation << quint32(ENOENT) << QByteArray() << 0x644;
    QTest::newRow("existing file keeps mode and rest")
        << system << QByteArray("[Network]\r\nWORKSTATION=5\r\n; end\r\n")
        << QStringList{"network", "Workstation", "6"} << 0u
        << QByteArray("[Network]\r\nWORKSTATION=6\r\n; end\r\n") << 0x600;
    // UTF-8 text is not mixed into a file in another encoding.
    const QByteArray latin1("[Network]\nServer=M\xfcller\n");
    QTest::newRow("not UTF-8") << system << latin1 << QStringList{"Network", "Workstation", "\u00FC"}
                               << quint32(EILSEQ) << latin1 << 0x644;
    const auto refused = [&](const char *name, const QString &section, const QString &key,
                             const QString &value) {
        const QByteArray before("[Network]\nWorkstation=1\n");
        QTest::newRow(name) << system << before << QStringList{section, key, value} << ERROR_REFUSED_INPUT
                            << before << 0x644;
    };
    refused("line break in value", "Network", "Workstation", "3\n[Evil]\nA=1");
    refused("carriage return in key", "Network", "Work\rstation", "3");
    refused("nul in section", QStringLiteral("Net") + QChar(0), "Workstation", "3");
    refused("bracket in section", "Net]work", "Workstation", "3");
    refused("equals in key", "Network", "Work=station", "3");
    refused("key looks like a section", "Network", "[Workstation]", "3");
    refused("empty key", "Network", " ", "3");
    refused("half a surrogate pair in value", "Network", "Workstation", QStringLiteral("3") + QChar(0xdc00));
    refused("empty section", "", "Workstation", "3");
}

void tst_profilefile::writeProfileString()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, before);
    QFETCH(QStringList, write);
    QFETCH(quint32, error);
    QFETCH(QByteArray, after);
    QFETCH(int, mode);
    Sandbox sandbox;
    const QString path =
        file.contains(QLatin1Char('/')) ? sandbox.root() + '/' + file : sandbox.machine("/etc/trox/" + file);
    if (!before.isNull()) {
        QVERIFY(Sandbox::writeFile(path, before));
        QVERIFY(QFile::setPermissions(path, QFile::Permissions(mode)));
    }
    if (error)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(error == ERROR_REFUSED_INPUT
                                                                ? "^Refused to write the profile key "
                                                                : "^Could not write the key 'Workstation'"));
    QCOMPARE(::writeProfileString(write.at(0), write.at(1), write.at(2), file.contains('/') ? path : file),
             error);
    QCOMPARE(Sandbox::readFile(path), after);
    if (after.isNull()) {
        QVERIFY(!QFile::exists(sandbox.root() + "/plant"));
        return;
    }
    QCOMPARE(int(QFileInfo(path).permissions() & 0x777), mode);
    // Nothing else is left beside it.
    QCOMPARE(QDir(QFileInfo(path).absolutePath())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QFileInfo(path).fileName()});
}

QTEST_GUILESS_MAIN(tst_profilefile)
#include "tst_profilefile.moc"
