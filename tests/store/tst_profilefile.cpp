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
    void bareNameGoesToProfileDirectory();
    void missingDirectoryIsNotWritten();
    void existingFileKeepsModeAndRest();
    void refusedInput_data();
    void refusedInput();
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

void tst_profilefile::bareNameGoesToProfileDirectory()
{
    Sandbox sandbox;
    const QString file = sandbox.machine(QStringLiteral("/etc/trox/xsv.ini"));
    QCOMPARE(writeProfileString(QStringLiteral("Network"), QStringLiteral("Workstation"),
                                QStringLiteral("12"), QStringLiteral("xsv.ini")),
             0u);
    QCOMPARE(writeProfileString(QStringLiteral("System"), QStringLiteral("Workstation"), QStringLiteral("12"),
                                QStringLiteral("xsv.ini")),
             0u);
    QCOMPARE(Sandbox::readFile(file), QByteArray("[Network]\nWorkstation=12\n[System]\nWorkstation=12\n"));
    QCOMPARE(QFileInfo(file).permissions() & 0x0777,
             QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
    QCOMPARE(QDir(QFileInfo(file).absolutePath())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("xsv.ini")});
}

void tst_profilefile::missingDirectoryIsNotWritten()
{
    Sandbox sandbox;
    const QString file = sandbox.root() + QLatin1String("/plant/config/system/trox_system.ini");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^couldn't write key 'Workstation'")));
    QCOMPARE(writeProfileString(QStringLiteral("Network"), QStringLiteral("Workstation"), QStringLiteral("3"),
                                file),
             quint32(ENOENT));
    QVERIFY(!QFile::exists(sandbox.root() + QLatin1String("/plant")));
}

void tst_profilefile::existingFileKeepsModeAndRest()
{
    Sandbox sandbox;
    const QString file = sandbox.root() + QLatin1String("/trox_system.ini");
    QVERIFY(Sandbox::writeFile(file, "[Network]\r\nWORKSTATION=5\r\n; end\r\n"));
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(writeProfileString(QStringLiteral("network"), QStringLiteral("Workstation"), QStringLiteral("6"),
                                file),
             0u);
    QCOMPARE(Sandbox::readFile(file), QByteArray("[Network]\r\nWORKSTATION=6\r\n; end\r\n"));
    QCOMPARE(QFileInfo(file).permissions() & 0x0777, QFile::ReadUser | QFile::WriteUser);
    // UTF-8 text is not mixed into a file in another encoding.
    QVERIFY(Sandbox::writeFile(file, "[Network]\nServer=M\xfcller\n"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^couldn't write key 'Workstation'")));
    QCOMPARE(writeProfileString(QStringLiteral("Network"), QStringLiteral("Workstation"),
                                QStringLiteral("\u00FC"), file),
             quint32(EILSEQ));
    QCOMPARE(Sandbox::readFile(file), QByteArray("[Network]\nServer=M\xfcller\n"));
}

void tst_profilefile::refusedInput_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("line break in value") << "Network"
                                         << "Workstation"
                                         << "3\n[Evil]\nA=1";
    QTest::newRow("carriage return in key") << "Network"
                                            << "Work\rstation"
                                            << "3";
    QTest::newRow("nul in section") << QStringLiteral("Net") + QChar(0) << "Workstation"
                                    << "3";
    QTest::newRow("bracket in section") << "Net]work"
                                        << "Workstation"
                                        << "3";
    QTest::newRow("equals in key") << "Network"
                                   << "Work=station"
                                   << "3";
    QTest::newRow("key looks like a section") << "Network"
                                              << "[Workstation]"
                                              << "3";
    QTest::newRow("empty key") << "Network"
                               << " "
                               << "3";
    QTest::newRow("half a surrogate pair in value") << "Network"
                                                    << "Workstation" << QStringLiteral("3") + QChar(0xdc00);
    QTest::newRow("empty section") << ""
                                   << "Workstation"
                                   << "3";
}

void tst_profilefile::refusedInput()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    Sandbox sandbox;
    const QString file = sandbox.root() + QLatin1String("/xsv.ini");
    QVERIFY(Sandbox::writeFile(file, "[Network]\nWorkstation=1\n"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^refused to write profile key ")));
    QCOMPARE(writeProfileString(section, key, value, file), ERROR_REFUSED_INPUT);
    QCOMPARE(Sandbox::readFile(file), QByteArray("[Network]\nWorkstation=1\n"));
}

QTEST_GUILESS_MAIN(tst_profilefile)
#include "tst_profilefile.moc"
