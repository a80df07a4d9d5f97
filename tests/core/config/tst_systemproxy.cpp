#include "core/config/SystemProxy.h"

#include <QTest>

#include <optional>

namespace {

// The five entries as "host:port" separated by "|"; an empty entry is "-".
QString describe(const SystemProxy& rec)
{
    QStringList parts;
    for (const ProxyProtocol* e : {&rec.http, &rec.https, &rec.ftp, &rec.gopher, &rec.socks}) {
        parts << (e->host.isEmpty() && e->port == 0
                      ? QStringLiteral("-")
                      : e->host + QLatin1Char(':') + QString::number(e->port));
    }
    return parts.join(QLatin1Char('|'));
}

SystemProxy junk()
{
    SystemProxy rec;
    for (ProxyProtocol* e : {&rec.http, &rec.https, &rec.ftp, &rec.gopher, &rec.socks})
        *e = {QStringLiteral("junk"), 1};
    return rec;
}

const char* const envNames[] = {"http_proxy", "HTTP_PROXY"};

} // namespace

class TestSystemProxy : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void parseList_data();
    void parseList();
    void systemProxyFromEnvironment_data();
    void systemProxyFromEnvironment();

private:
    std::optional<QByteArray> m_saved[2];
};

void TestSystemProxy::initTestCase()
{
    for (int i = 0; i < 2; ++i) {
        if (qEnvironmentVariableIsSet(envNames[i]))
            m_saved[i] = qgetenv(envNames[i]);
    }
}

void TestSystemProxy::cleanup()
{
    for (int i = 0; i < 2; ++i) {
        if (m_saved[i])
            qputenv(envNames[i], *m_saved[i]);
        else
            qunsetenv(envNames[i]);
    }
}

void TestSystemProxy::parseList_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("entries"); // http|https|ftp|gopher|socks

    QTest::newRow("per protocol, two named")
        << QStringLiteral("http=a:81;ftp=b:21") << QStringLiteral("a:81|-|b:21|-|-");
    QTest::newRow("per protocol, blank separated")
        << QStringLiteral("http=a:81 socks=s:1080") << QStringLiteral("a:81|-|-|-|s:1080");
    QTest::newRow("https named before http")
        << QStringLiteral("https=x:1;http=y:2") << QStringLiteral("y:2|x:1|-|-|-");
    QTest::newRow("prefixes are exact case")
        << QStringLiteral("HTTP=a:1;Ftp=b:2") << QStringLiteral("-|-|-|-|-");
    QTest::newRow("per protocol with URLs")
        << QStringLiteral("http=http://a:81/;gopher=g") << QStringLiteral("a:81|-|-|g:0|-");

    QTest::newRow("one proxy for all")
        << QStringLiteral("p:8080") << QStringLiteral("p:8080|p:8080|p:8080|p:8080|p:8080");
    QTest::newRow("host without port")
        << QStringLiteral("p") << QStringLiteral("p:0|p:0|p:0|p:0|p:0");
    QTest::newRow("port not a number")
        << QStringLiteral("p:80x") << QStringLiteral("p:0|p:0|p:0|p:0|p:0");
    QTest::newRow("port out of range")
        << QStringLiteral("p:70000") << QStringLiteral("p:0|p:0|p:0|p:0|p:0");

    QTest::newRow("URL with credentials and path")
        << QStringLiteral("http://user:pw@p:3128/")
        << QStringLiteral("p:3128|p:3128|p:3128|p:3128|p:3128");
    QTest::newRow("equals sign in the password is no list")
        << QStringLiteral("http://u:pa=ss@p:8080")
        << QStringLiteral("p:8080|p:8080|p:8080|p:8080|p:8080");
    QTest::newRow("IPv6 address") << QStringLiteral("http://[::1]:3128/")
                                  << QStringLiteral("::1:3128|::1:3128|::1:3128|::1:3128|::1:3128");
    QTest::newRow("empty") << QString() << QStringLiteral("-|-|-|-|-");
}

void TestSystemProxy::parseList()
{
    QFETCH(QString, list);
    QFETCH(QString, entries);
    SystemProxy rec = junk(); // entries the list does not name must not keep old values
    parseProxyList(list, rec);
    QCOMPARE(describe(rec), entries);
}

void TestSystemProxy::systemProxyFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("lower"); // http_proxy; empty means unset
    QTest::addColumn<QByteArray>("upper"); // HTTP_PROXY; empty means unset
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("http");

    QTest::newRow("neither set") << QByteArray() << QByteArray() << false << QStringLiteral("-");
    QTest::newRow("only blanks") << QByteArray("  ") << QByteArray() << false
                                 << QStringLiteral("-");
    QTest::newRow("lower case preferred")
        << QByteArray("http://low:1/") << QByteArray("http://up:2/") << true
        << QStringLiteral("low:1");
    QTest::newRow("upper case as fallback")
        << QByteArray() << QByteArray("http://up:2/") << true << QStringLiteral("up:2");
}

void TestSystemProxy::systemProxyFromEnvironment()
{
    QFETCH(QByteArray, lower);
    QFETCH(QByteArray, upper);
    QFETCH(bool, found);
    QFETCH(QString, http);

    const QByteArray values[] = {lower, upper};
    for (int i = 0; i < 2; ++i) {
        if (values[i].isEmpty())
            qunsetenv(envNames[i]);
        else
            qputenv(envNames[i], values[i]);
    }

    SystemProxy rec = junk();
    QCOMPARE(readSystemProxy(rec), found);
    QCOMPARE(describe(rec).section(QLatin1Char('|'), 0, 0), http);
    if (!found)
        QCOMPARE(rec, SystemProxy());
    else
        QCOMPARE(rec.socks, rec.http);
}

QTEST_GUILESS_MAIN(TestSystemProxy)
#include "tst_systemproxy.moc"
