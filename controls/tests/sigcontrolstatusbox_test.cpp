// MimicStatus through the real message box. The box runs its own event loop, in which the host
// may close or delete the window that holds the control.
#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "sigcontrol.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kActMs = 100;
// Long enough never to be reached while things work; it only keeps a failing case from hanging.
constexpr int kGiveUpMs = 5000;

QMessageBox* openBox()
{
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// Runs act once the box is open; closes whatever box is still open after kGiveUpMs. Both timers
// die with the object, so nothing fires after the case.
class WhileTheBoxIsOpen
{
public:
    explicit WhileTheBoxIsOpen(std::function<void(QMessageBox*)> act)
    {
        QTimer::singleShot(kActMs, &m_context, [this, act = std::move(act)] {
            QMessageBox* box = openBox();
            m_sawBox = box != nullptr;
            act(box);
        });
        QTimer::singleShot(kGiveUpMs, &m_context, [this] {
            if (QMessageBox* box = openBox()) {
                m_gaveUp = true;
                box->reject();
            }
        });
    }

    bool sawBox() const { return m_sawBox; }
    bool gaveUp() const { return m_gaveUp; }

private:
    QObject m_context;
    bool m_sawBox = false;
    bool m_gaveUp = false;
};

} // namespace

TEST(SigControlStatusBox, ShowsThePositionWithOneOkButtonNoIconAndNoTitleOfItsOwn)
{
    QWidget host;
    auto* control = new SigControl(&host);
    host.show();
    ASSERT_TRUE(control->MimicClearScreen().ok());
    ASSERT_TRUE(control->MimicSetScale(100, 50).ok());
    ASSERT_TRUE(control->MimicSetLine(5, -7).ok());

    QString text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QMessageBox::StandardButtons buttons;
    QString title = u"unset"_s;
    QWidget* parent = nullptr;
    WhileTheBoxIsOpen closer([&](QMessageBox* box) {
        if (!box)
            return;
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        title = box->windowTitle();
        parent = box->parentWidget();
        box->accept();
    });
    EXPECT_TRUE(control->MimicStatus().ok());
    ASSERT_TRUE(closer.sawBox());
    EXPECT_FALSE(closer.gaveUp());
    EXPECT_EQ(text, u"Current = 5, -7"_s);
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(title, QString());
    EXPECT_EQ(parent, control);
    // The box is gone once the member returns; the control keeps going.
    EXPECT_EQ(openBox(), nullptr);
    EXPECT_EQ(control->findChildren<QMessageBox*>().size(), 0);
    EXPECT_TRUE(control->MimicSetPixel(1, 1, 0).ok());
}

TEST(SigControlStatusBox, HostWindowGoneWhileTheBoxIsOpen)
{
    const struct
    {
        const char* how;
        std::function<void(QWidget*)> end;
    } ways[] = {
        {"closed, deleting itself on close", [](QWidget* host) { host->close(); }},
        {"deleted", [](QWidget* host) { delete host; }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        auto* host = new QWidget;
        host->setAttribute(Qt::WA_DeleteOnClose);
        auto* control = new SigControl(host);
        host->show();
        const QPointer<QWidget> hostAlive(host);
        const QPointer<SigControl> controlAlive(control);

        WhileTheBoxIsOpen closer([&](QMessageBox*) {
            if (hostAlive)
                way.end(hostAlive);
        });
        EXPECT_TRUE(control->MimicStatus().ok());
        EXPECT_TRUE(closer.sawBox());
        EXPECT_FALSE(closer.gaveUp());
        // A window closed with delete-on-close goes on the next pass of the event loop.
        if (hostAlive)
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(hostAlive.isNull());
        EXPECT_TRUE(controlAlive.isNull());
        EXPECT_EQ(openBox(), nullptr);
        delete hostAlive.data();
    }
}
