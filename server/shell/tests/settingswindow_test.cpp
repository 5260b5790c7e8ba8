// The settings window against its design: every control's place, size, caption, kind and tab
// order, the menu tree, and the fields bound both ways to the live settings of a running
// server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

#include "core/padtimeout.h"
#include "doors/admission.h"
#include "doors/connectionlimit.h"
#include "doors/tcpdoor.h"
#include "qtprinters.h"
#include "request/deviceoperations.h"
#include "request/requestdispatcher.h"
#include "request/requestservice.h"
#include "serverprocess.h"
#include "shell/mainmenus.h"
#include "shell/mainwindow.h"
#include "shell/settingsform.h"
#include "shelltestserver.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Devices that are never asked for anything: the listener below serves no request.
struct NoDevices final : PadOperations, PinPadOperations
{
    bool pad_enabled(bool) override { return false; }
    void clear_padVars() override {}
    std::unique_ptr<Operation> qp6100_get_swipe() override { return nullptr; }
    std::unique_ptr<Operation> qp6100_get_signature(const SignatureRequest&) override
    {
        return nullptr;
    }
    void pad_welcome() override {}
    std::unique_ptr<Operation> pinPad1000se_get_pin(const PinRequest&) override { return nullptr; }
};

int px(int twips)
{
    return qRound(twips / 15.0);
}

struct DesignRow
{
    const char* name;
    const char* kind;
    const char* caption;
    const char* parent; // "form" for the groups
    int left, top, width, height;
    int tab;
};

// The window as designed, in twips, positions relative to the parent.
const DesignRow kDesign[] = {
    {"grpLocal", "group", "Local Params", "form", 120, 120, 2895, 975, 0},
    {"lblSockport", "label", "Sockport:", "grpLocal", 240, 360, 975, 285, 1},
    {"txtSockport", "text", "", "grpLocal", 1320, 360, 1215, 400, 2},
    {"grpFTP", "group", "FTP Params", "form", 3240, 120, 4815, 2055, 3},
    {"lblFtpUrl", "label", "URL:", "grpFTP", 360, 360, 975, 285, 4},
    {"lblFtpUsername", "label", "Username:", "grpFTP", 360, 840, 975, 285, 5},
    {"lblFtpPassword", "label", "Password:", "grpFTP", 360, 1320, 975, 285, 6},
    {"txtFtpUrl", "text", "", "grpFTP", 1440, 360, 3135, 400, 7},
    {"txtFtpUsername", "text", "", "grpFTP", 1440, 840, 1815, 400, 8},
    {"txtFtpPassword", "password", "", "grpFTP", 1440, 1320, 1815, 400, 9},
    {"grpQP6100", "group", "QP6100 Params", "form", 120, 1200, 2895, 975, 10},
    {"chkQP6100Device", "check", "Device?", "grpQP6100", 360, 360, 1095, 375, 11},
    {"grp1000SE", "group", "Verifone 1000 SE Params", "form", 120, 2280, 7935, 1935, 12},
    {"lbl1000SEComPort", "label", "Comm Port:", "grp1000SE", 240, 840, 975, 285, 13},
    {"lbl1000SEBaudRate", "label", "Baud Rate:", "grp1000SE", 240, 1320, 975, 285, 14},
    {"lbl1000SEParity", "label", "Parity:", "grp1000SE", 3720, 360, 975, 285, 15},
    {"txt1000SEParity", "text", "", "grp1000SE", 4800, 360, 1215, 400, 16},
    {"lbl1000SEDataBits", "label", "Data Bits:", "grp1000SE", 3720, 840, 975, 285, 17},
    {"txt1000SEDataBits", "text", "", "grp1000SE", 4800, 840, 1215, 400, 18},
    {"lbl1000SEEncryption", "label", "Encryption:", "grp1000SE", 3720, 1320, 975, 285, 19},
    {"txt1000SEEncryption", "text", "", "grp1000SE", 4800, 1320, 1215, 400, 20},
    {"chk1000SEDevice", "check", "Device?", "grp1000SE", 480, 360, 1095, 375, 21},
    {"cbo1000SECommPort", "list", "", "grp1000SE", 1320, 840, 735, 315, 22},
    {"cbo1000SEBaudRate", "list", "", "grp1000SE", 1320, 1320, 1215, 315, 23},
};

// What a control shows as its caption or content, and the kind it is.
QString kindOf(QWidget* w)
{
    if (qobject_cast<QGroupBox*>(w))
        return QStringLiteral("group");
    if (qobject_cast<QLabel*>(w))
        return QStringLiteral("label");
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->echoMode() == QLineEdit::Password ? QStringLiteral("password")
                                                       : QStringLiteral("text");
    if (qobject_cast<QCheckBox*>(w))
        return QStringLiteral("check");
    if (auto* list = qobject_cast<QComboBox*>(w))
        return list->isEditable() ? QStringLiteral("list") : QStringLiteral("fixed list");
    return QString::fromLatin1(w->metaObject()->className());
}

QString captionOf(QWidget* w)
{
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* box = qobject_cast<QCheckBox*>(w))
        return box->text();
    if (auto* list = qobject_cast<QComboBox*>(w))
        return list->currentText();
    return QStringLiteral("?");
}

// The table's control that holds the keyboard focus (an editable list's inner field counts as
// the list).
QString focusedControl(const SettingsForm& form)
{
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        for (const DesignRow& row : kDesign)
            if (w->objectName() == QLatin1String(row.name) && w->window() == form.window())
                return w->objectName();
    }
    return QStringLiteral("(none)");
}

// The menu tree as text lines, two blanks of indent a level: name "caption" and its state.
void describeMenu(const QList<QAction*>& actions, int depth, QStringList& lines)
{
    for (QAction* action : actions) {
        QString line = QString(depth * 2, QLatin1Char(' ')) + action->objectName();
        line += action->isSeparator() ? QStringLiteral(" -")
                                      : QStringLiteral(" \"") + action->text() + QLatin1Char('"');
        if (!action->isEnabled())
            line += QStringLiteral(" disabled");
        lines << line;
        if (action->menu())
            describeMenu(action->menu()->actions(), depth + 1, lines);
    }
}

QStringList describeMenus(const MainWindow& window)
{
    QStringList lines;
    describeMenu(window.menuBar()->actions(), 0, lines);
    return lines;
}

// The form's controls in the order of the design's table.
QList<QWidget*> controlsInDesignOrder(const SettingsForm::Controls& c)
{
    return {c.grpLocal,
            c.lblSockport,
            c.txtSockport,
            c.grpFTP,
            c.lblFtpUrl,
            c.lblFtpUsername,
            c.lblFtpPassword,
            c.txtFtpUrl,
            c.txtFtpUsername,
            c.txtFtpPassword,
            c.grpQP6100,
            c.chkQP6100Device,
            c.grp1000SE,
            c.lbl1000SEComPort,
            c.lbl1000SEBaudRate,
            c.lbl1000SEParity,
            c.txt1000SEParity,
            c.lbl1000SEDataBits,
            c.txt1000SEDataBits,
            c.lbl1000SEEncryption,
            c.txt1000SEEncryption,
            c.chk1000SEDevice,
            c.cbo1000SECommPort,
            c.cbo1000SEBaudRate};
}

QByteArray settingsWithPort(quint16 port)
{
    return "[Local]\r\nlocalSockport=" + QByteArray::number(port) +
           "\r\n[FTP]\r\nftpUrl=ftp.example\r\nftpPassword=secret\r\n[QP6100]\r\n"
           "qp6100Device=0\r\n[1000SE]\r\n1000SEDevice=0\r\n1000SEBaudRate=4000\r\n"
           "[Simulator]\r\npadControlPort=" +
           QByteArray::number(ServerProcess::freePort()) + "\r\n";
}

} // namespace

TEST(SettingsWindowTest, ControlsMatchTheWindowDesign)
{
    ShellTestServer s;
    MainWindow& window = s.program->window();
    const SettingsForm& form = window.form();

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Varnel Payment"));
    EXPECT_EQ(window.centralWidget(), &form);
    EXPECT_EQ(form.size(), QSize(542, 288)); // the client area, below the menu bar
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(128, 128)));

    // Each typed control is the one of its name, and the form has no other with that name.
    const SettingsForm::Controls& c = form.controls();
    const QList<QWidget*> typed = controlsInDesignOrder(c);
    ASSERT_EQ(typed.size(), qsizetype(std::size(kDesign)));
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const DesignRow& row = kDesign[i];
        SCOPED_TRACE(row.name);
        QWidget* w = typed[i];
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName(), QLatin1String(row.name));
        EXPECT_EQ(form.findChildren<QWidget*>(QLatin1String(row.name)), QList<QWidget*>{w});
        EXPECT_EQ(kindOf(w), QLatin1String(row.kind));
        EXPECT_EQ(captionOf(w), QLatin1String(row.caption)); // fields start empty
        const QString parent =
            w->parentWidget() == &form ? QStringLiteral("form") : w->parentWidget()->objectName();
        EXPECT_EQ(parent, QLatin1String(row.parent));
        EXPECT_EQ(w->geometry(), QRect(px(row.left), px(row.top), px(row.width), px(row.height)));
        // Group captions bold, everything inside them not.
        EXPECT_EQ(w->font().bold(), QLatin1String(row.kind) == QLatin1String("group"));
    }

    auto* baud = c.cbo1000SEBaudRate;
    QStringList rates;
    for (int i = 0; i < baud->count(); ++i)
        rates << baud->itemText(i);
    EXPECT_EQ(rates,
              QStringList({u"75"_s, u"110"_s, u"134"_s, u"150"_s, u"300"_s, u"600"_s, u"1200"_s,
                           u"1800"_s, u"2400"_s, u"4800"_s, u"7200"_s, u"9600"_s, u"14400"_s,
                           u"19200"_s, u"38400"_s, u"57600"_s, u"115200"_s, u"128000"_s}));
    EXPECT_EQ(c.cbo1000SECommPort->toolTip(), QStringLiteral("Choose Verifone 1000SE Comm Port"));
    auto* password = c.txtFtpPassword;
    password->setText(QStringLiteral("pa55"));
    EXPECT_EQ(password->displayText(), QStringLiteral("****"));

    // The keyboard order: the fields that take the focus, in the order of their tab index.
    s.server->settings().setFields1000SEEnabled(true); // as the ticked 1000SE box does
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    c.txtSockport->setFocus();
    QStringList visited{focusedControl(form)};
    for (int i = 0; i < 11; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << focusedControl(form);
    }
    EXPECT_EQ(visited,
              QStringList({u"txtSockport"_s, u"txtFtpUrl"_s, u"txtFtpUsername"_s,
                           u"txtFtpPassword"_s, u"chkQP6100Device"_s, u"txt1000SEParity"_s,
                           u"txt1000SEDataBits"_s, u"txt1000SEEncryption"_s, u"chk1000SEDevice"_s,
                           u"cbo1000SECommPort"_s, u"cbo1000SEBaudRate"_s, u"txtSockport"_s}));
}

TEST(SettingsWindowTest, MenusMatchTheTreeAndThePopup)
{
    ShellTestServer s;
    const MainWindow& window = s.program->window();
    // Before start-up: the states of the design.
    EXPECT_EQ(describeMenus(window), QStringList({
                                         uR"(mnuFile "File")"_s,
                                         uR"(  mnuFileSave "Save Settings")"_s,
                                         uR"(mnuQP6100 "QP6100")"_s,
                                         uR"(  mnuQP6100LoadScript "Load Script" disabled)"_s,
                                         uR"(  mnuQP6100Connect "Connect" disabled)"_s,
                                         uR"(  mnuQP6100Disconnect "Disconnect" disabled)"_s,
                                         uR"(  mnuQP6100Sep1 -)"_s,
                                         uR"(  mnuQP6100PadForms "Pad Forms" disabled)"_s,
                                         uR"(    mnuQP6100PadFormsWelcome "Welcome")"_s,
                                         uR"(    mnuQP6100PadFormsSignature "Signature")"_s,
                                         uR"(    mnuQP6100PadFormsCardSwipe "Card Swipe")"_s,
                                         uR"(    mnuQP6100PadFormsWait "Wait")"_s,
                                         uR"(    mnuQP6100PadFormsThanks "Thanks")"_s,
                                         uR"(    mnuQP6100PadFormsPinPad "Pin Pad")"_s,
                                         uR"(mnuTools "Tools")"_s,
                                         uR"(  mnuToolsLogFile "Log File")"_s,
                                         uR"(    mnuToolsLogFileViewLog "View Log")"_s,
                                         uR"(    mnuToolsLogFilePurgeLog "Purge Log")"_s,
                                         uR"(  mnuToolsPairTill "Pair a Till…")"_s,
                                         uR"(mnuAbout "About")"_s,
                                     }));
    // The pop-up never shows in the bar; its default item is drawn in bold.
    QMenu* popup = window.menus().mnuPopup();
    ASSERT_NE(popup, nullptr);
    QStringList popupLines;
    describeMenu(popup->actions(), 0, popupLines);
    EXPECT_EQ(popupLines,
              QStringList({uR"(mnuPopupAbout "About")"_s, uR"(mnuPopupRestore "Restore")"_s,
                           uR"(mnuPopupSep1 -)"_s, uR"(mnuPopupExit "Exit")"_s}));
    EXPECT_EQ(popup->defaultAction(), window.menus().mnuPopupExit());
}

TEST(SettingsWindowTest, FieldsAreBoundBothWaysToTheRunningServer)
{
    const quint16 loadedPort = ServerProcess::freePort();
    ShellTestServer s(settingsWithPort(loadedPort));
    MainWindow& window = s.program->window();
    LiveSettings& live = s.server->settings();
    ASSERT_TRUE(s.program->start().listening());
    window.mnuPopupRestore();
    const SettingsForm::Controls& c = window.form().controls();
    const MainMenus& menus = window.menus();

    // The load filled the window.
    auto* baud = c.cbo1000SEBaudRate;
    EXPECT_EQ(baud->currentText(), QStringLiteral("4000")); // not in the list, still shown
    auto* port = c.txtSockport;
    EXPECT_EQ(port->text(), QString::number(loadedPort));
    auto* url = c.txtFtpUrl;
    EXPECT_EQ(url->text(), QStringLiteral("ftp.example"));
    // Loaded texts show their beginning, also when they are longer than the field.
    const QString longUrl = u"ftp://signatures.store-17.example.com:2121/incoming/today/"_s;
    live.setTxtFtpUrl(longUrl);
    live.setTxtFtpUsername(u"store-17-signature-uploads@files.example.com"_s);
    ASSERT_GT(url->fontMetrics().horizontalAdvance(longUrl), url->width());
    for (const QLineEdit* edit : {c.txtSockport, c.txtFtpUrl, c.txtFtpUsername})
        EXPECT_EQ(edit->cursorPosition(), 0) << edit->objectName().toStdString();
    EXPECT_EQ(baud->lineEdit()->cursorPosition(), 0);
    EXPECT_EQ(c.txtFtpPassword->displayText(), QStringLiteral("******"));
    auto* qp6100Box = c.chkQP6100Device;
    auto* pinPadBox = c.chk1000SEDevice;
    EXPECT_FALSE(qp6100Box->isChecked());
    EXPECT_FALSE(baud->isEnabled());

    // Typing changes what the server uses next, before any save: a listener started now
    // listens on the typed port.
    const quint16 typedPort = ServerProcess::freePort();
    port->selectAll();
    QTest::keyClicks(port, QString::number(typedPort));
    EXPECT_EQ(live.txtSockport(), QString::number(typedPort));
    PadTimeout padTimeout;
    NoDevices devices;
    RequestDispatcher dispatcher(s.server->activityLog(), padTimeout, devices, devices);
    RequestService service(s.server->activityLog(), dispatcher, s.home.path());
    ConnectionLimit limit;
    Admission admission(s.server->activityLog(), AccessPolicy(), limit);
    TcpDoor listener(s.server->activityLog(), LocalSettings{live.local()}, service, admission);
    ASSERT_TRUE(listener.start_listening());
    EXPECT_EQ(listener.listeningPort(), typedPort);

    // The five 1000SE fields follow the 1000SE box; a pick from the list is the field's text.
    QTest::mouseClick(pinPadBox, Qt::LeftButton);
    EXPECT_EQ(live.chk1000SEDevice(), LiveSettings::Ticked);
    for (const QWidget* field : std::initializer_list<const QWidget*>{
             c.cbo1000SECommPort, c.cbo1000SEBaudRate, c.txt1000SEParity, c.txt1000SEDataBits,
             c.txt1000SEEncryption})
        EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();
    baud->setCurrentIndex(baud->findText(QStringLiteral("9600")));
    EXPECT_EQ(live.cbo1000SEBaudRate(), QStringLiteral("9600"));
    QTest::keyClicks(c.txt1000SEParity, QStringLiteral("N"));
    EXPECT_EQ(live.txt1000SEParity(), QStringLiteral("N"));

    // Ticking the QP6100 box runs its handler in the server: the simulated pad connects, and
    // Connect, Disconnect and Pad Forms follow the connection; Load Script stays disabled.
    auto menuStates = [&menus] {
        QStringList enabled;
        for (const QAction* item :
             {menus.mnuQP6100LoadScript(), menus.mnuQP6100Connect(), menus.mnuQP6100Disconnect(),
              menus.mnuQP6100PadForms()->menuAction()})
            if (item->isEnabled())
                enabled << item->objectName();
        return enabled;
    };
    QTest::mouseClick(qp6100Box, Qt::LeftButton);
    EXPECT_TRUE(s.pad.portOpen());
    EXPECT_EQ(s.pad.form(), QStringLiteral("padWelcome"));
    EXPECT_EQ(menuStates(), QStringList({u"mnuQP6100Disconnect"_s, u"mnuQP6100PadForms"_s}));

    // The Pad Forms items do nothing.
    const QStringList before = s.logEntries();
    for (QAction* item : menus.mnuQP6100PadForms()->actions())
        item->trigger();
    EXPECT_EQ(s.logEntries(), before);
    EXPECT_EQ(s.pad.form(), QStringLiteral("padWelcome"));

    menus.mnuQP6100Disconnect()->trigger();
    EXPECT_FALSE(s.pad.portOpen());
    EXPECT_EQ(menuStates(), QStringList({u"mnuQP6100Connect"_s}));
    menus.mnuQP6100Connect()->trigger();
    EXPECT_TRUE(s.pad.portOpen());
    EXPECT_EQ(menuStates(), QStringList({u"mnuQP6100Disconnect"_s, u"mnuQP6100PadForms"_s}));

    // The model's own changes show in the window: unticking the box from the server's side.
    live.setChk1000SEDevice(LiveSettings::Unticked);
    EXPECT_FALSE(pinPadBox->isChecked());
    EXPECT_FALSE(baud->isEnabled());
    live.setChkQP6100Device(LiveSettings::Greyed);
    EXPECT_EQ(qp6100Box->checkState(), Qt::PartiallyChecked);
    EXPECT_FALSE(s.pad.portOpen()); // a greyed box is not a ticked one

    // File > Save Settings writes what was typed.
    menus.mnuFileSave()->trigger();
    const QByteArray saved =
        TestFiles::readAll(s.home.filePath(QStringLiteral("varnelpayment.ini")));
    EXPECT_TRUE(saved.contains("localSockport=" + QByteArray::number(typedPort)))
        << saved.constData();
    EXPECT_TRUE(saved.contains("1000SEBaudRate=9600")) << saved.constData();
    EXPECT_TRUE(saved.contains("1000SEParity=N")) << saved.constData();
    EXPECT_TRUE(saved.contains("qp6100Device=2")) << saved.constData();
    s.program->finish();
}
