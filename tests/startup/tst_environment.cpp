// Where the program's folder, the machine's name and its domain come from.
#include "startup/environment.h"
#include "support/fakes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestEnvironment : public QObject
{
    Q_OBJECT
private slots:
    void variablesAreTakenAsSet()
    {
        FakeEnvironment env;
        env.variables = {{"PROGRAMFILES", "/opt/pf"}, {"COMPUTERNAME", "pc17"}, {"USERDNSDOMAIN", "corp.example.com"}};
        QCOMPARE(ProgramFiles(env), QStringLiteral("/opt/pf"));
        QCOMPARE(ComputerName(env), QStringLiteral("pc17")); // as set, not changed
        QCOMPARE(UserDnsDomain(env), QStringLiteral("corp.example.com"));
    }

    void defaults_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("computer");
        QTest::addColumn<QString>("dnsDomain");
        QTest::newRow("short") << "builder" << "" << "BUILDER" << "";
        QTest::newRow("fqdn host") << "builder.lab.example.org" << "lab.example.org" << "BUILDER" << "LAB.EXAMPLE.ORG";
        QTest::newRow("trailing dot") << "pc" << "corp.example." << "PC" << "CORP.EXAMPLE";
    }
    void defaults()
    {
        QFETCH(QString, host);
        QFETCH(QString, domain);
        FakeEnvironment env;
        env.host = host;
        env.domain = domain;
        QTEST(ComputerName(env), "computer");
        QTEST(UserDnsDomain(env), "dnsDomain");
    }

    void emptyVariableCountsAsSet()
    {
        FakeEnvironment env;
        env.variables = {{"PROGRAMFILES", ""}, {"COMPUTERNAME", ""}};
        QCOMPARE(ProgramFiles(env), QString());
        QCOMPARE(ComputerName(env), QString());
    }

    void programFolderCreatedOnlyForDataHome()
    {
        QTemporaryDir dir;
        FakeEnvironment env;
        env.data = dir.path() + "/data";
        QCOMPARE(ProgramFolder(env), dir.path() + "/data/Selmarin/");
        QVERIFY(QDir(dir.path() + "/data/Selmarin").exists());

        env.variables = {{"PROGRAMFILES", dir.path() + "/pf"}};
        QCOMPARE(ProgramFolder(env), dir.path() + "/pf/Selmarin/");
        QVERIFY(!QDir(dir.path() + "/pf").exists());
    }

    void domainFromLocalFiles()
    {
        const QString hosts = QStringLiteral("127.0.0.1 localhost\n"
                                             "# 10.0.0.1 pc17.wrong.example pc17\n"
                                             "127.0.1.1\tpc17.corp.example.com pc17\n");
        QCOMPARE(DomainFromHosts(hosts, "pc17"), QStringLiteral("corp.example.com"));
        QCOMPARE(DomainFromHosts(hosts, "other"), QString());
        QCOMPARE(DomainFromResolvConf("nameserver 10.0.0.1\nsearch a.example\ndomain b.example\n"),
                 QStringLiteral("b.example"));
        QCOMPARE(DomainFromResolvConf("search a.example\n"), QString());
    }
};

QTEST_GUILESS_MAIN(TestEnvironment)
#include "tst_environment.moc"
