// Two of the server's own ports set to one number are named, each pair once; ports that are
// closed or unreadable clash with nothing.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/portclash.h"
#include "settings/settingsfile.h"
#include "testfiles.h"

namespace {

QStringList clashes(const QByteArray& settings)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("varnelpayment.ini"));
    TestFiles::writeAll(path, settings);
    return portClashes(serverPortSettings(SettingsFile::read(path)));
}

QString line(const char* first, const char* second, int port)
{
    return QStringLiteral("Settings: %1 and %2 are both port %3; only one of them can listen")
        .arg(QLatin1String(first), QLatin1String(second))
        .arg(port);
}

} // namespace

TEST(PortClash, EachPairOfSettingsOnOnePortIsNamed)
{
    const struct
    {
        QByteArray settings;
        QStringList expected;
    } cases[] = {
        // The defaults never collide; a closed WebSocket port clashes with nothing.
        {"", {}},
        {"[WebSocket]\r\nPort=0\r\n[Local]\r\nlocalSockport=0\r\n", {}},
        {"[WebSocket]\r\nPort=31421\r\n", {}},
        // The pad's old default, given to the WebSocket port by hand.
        {"[WebSocket]\r\nPort=31429\r\n",
         {line("[WebSocket] Port", "[Simulator] padControlPort", 31429)}},
        {"[Local]\r\nlocalSockport= 8000\r\n[websocket]\r\nport=8000\r\n",
         {line("[Local] localSockport", "[WebSocket] Port", 8000)}},
        {"[Local]\r\nlocalSockport=31429\r\n",
         {line("[Local] localSockport", "[Simulator] padControlPort", 31429)}},
        {"[Local]\r\nlocalSockport=9\r\n[WebSocket]\r\nPort=9\r\n[Simulator]\r\npadControlPort="
         "9\r\n",
         {line("[Local] localSockport", "[WebSocket] Port", 9),
          line("[Local] localSockport", "[Simulator] padControlPort", 9),
          line("[WebSocket] Port", "[Simulator] padControlPort", 9)}},
        {"[Metrics]\r\nPort=31420\r\n", {line("[Local] localSockport", "[Metrics] Port", 31420)}},
        {"[TLS]\r\nPort=31421\r\n[WebSocket]\r\nPort=31421\r\n",
         {line("[WebSocket] Port", "[TLS] Port", 31421)}},
        // Values that are no port open nothing, so they clash with nothing.
        {"[Local]\r\nlocalSockport=abc\r\n[WebSocket]\r\nPort=abc\r\n", {}},
        {"[WebSocket]\r\nPort=70000\r\n[Simulator]\r\npadControlPort=70000\r\n", {}},
    };
    for (const auto& entry : cases)
        EXPECT_EQ(clashes(entry.settings), entry.expected) << entry.settings.constData();
}
