#include "screenpad/padwindow.h"

#include <algorithm>

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "pad/paddriver.h"
#include "screenpad/padlook.h"
#include "screenpad/signingbox.h"

namespace {

const char* const kSizeFactor = "padSizeFactor";

// The signing box takes this share of the window's width, in the picture's shape (10:3).
constexpr double kBoxWidthShare = 0.7;
constexpr double kBoxMaxHeightShare = 0.42;

QString buttonStyle(const QColor& ground)
{
    return QStringLiteral("QPushButton { background: %1; color: %2; border: none;"
                          " border-radius: 12px; font-weight: bold; }"
                          "QPushButton:pressed { background: %3; }")
        .arg(ground.name(), PadLook::kButtonText.name(), ground.darker(115).name());
}

} // namespace

PadWindow::PadWindow(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(kTitle);
    setAutoFillBackground(false);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, PadLook::kText);
    setPalette(colours);

    m_welcome = textPage(QStringLiteral("Welcome"), QStringLiteral("Varnel Payment"));
    m_closed = textPage(QStringLiteral("Closed"), QStringLiteral("This pad is not in use"));
    m_swipe = swipePage();
    m_sign = signPage();
    m_pages = new QStackedLayout(this);
    for (QWidget* page : {m_welcome, m_closed, m_swipe, m_sign})
        m_pages->addWidget(page);
    m_form = PadForm::kWelcome;
}

QLabel* PadWindow::label(const QString& text, double sizeFactor)
{
    auto* shown = new QLabel(text);
    shown->setAlignment(Qt::AlignCenter);
    shown->setWordWrap(true);
    shown->setProperty(kSizeFactor, sizeFactor);
    return shown;
}

QWidget* PadWindow::textPage(const QString& title, const QString& subtitle)
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->addStretch(2);
    column->addWidget(label(title, 2.4));
    column->addWidget(label(subtitle, 1.0));
    column->addStretch(3);
    return page;
}

QWidget* PadWindow::swipePage()
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    m_swipeTotal = label({}, 1.6);
    column->addStretch(2);
    column->addWidget(m_swipeTotal);
    column->addWidget(label(QStringLiteral("Please swipe your card"), 2.0));
    column->addStretch(3);
    return page;
}

QWidget* PadWindow::signPage()
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    m_signTotal = label({}, 1.6);
    m_signName = label({}, 1.0);
    m_signAccount = label({}, 1.0);
    m_signingBox = new SigningBox;
    m_clear = new QPushButton(QStringLiteral("Clear"));
    m_done = new QPushButton(QStringLiteral("Done"));
    m_clear->setStyleSheet(buttonStyle(PadLook::kQuietButton));
    m_done->setStyleSheet(buttonStyle(PadLook::kAccent));
    // The pad's keys are Escape and Return; the buttons are for fingers.
    m_clear->setFocusPolicy(Qt::NoFocus);
    m_done->setFocusPolicy(Qt::NoFocus);
    connect(m_clear, &QPushButton::clicked, this, &PadWindow::clearPressed);
    connect(m_done, &QPushButton::clicked, this, &PadWindow::donePressed);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_clear);
    buttons->addSpacing(40);
    buttons->addWidget(m_done);
    buttons->addStretch();

    column->addStretch(1);
    column->addWidget(m_signTotal);
    column->addWidget(m_signName);
    column->addWidget(m_signAccount);
    column->addWidget(label(QStringLiteral("Please sign in the box"), 1.0));
    column->addWidget(m_signingBox, 0, Qt::AlignHCenter);
    column->addSpacing(16);
    column->addLayout(buttons);
    column->addStretch(1);
    return page;
}

bool PadWindow::showForm(const QString& formName)
{
    QWidget* page = formName == PadForm::kWelcome      ? m_welcome
                    : formName == PadForm::kDisconnect ? m_closed
                    : formName == PadForm::kStart      ? m_swipe
                    : formName == PadForm::kSig        ? m_sign
                                                       : nullptr;
    if (!page)
        return false;
    m_form = formName;
    m_pages->setCurrentWidget(page);
    return true;
}

void PadWindow::showValues(const QString& total, const QString& fullName, const QString& account)
{
    const QString totalText = total.isEmpty() ? QString() : QStringLiteral("Total: ") + total;
    m_swipeTotal->setText(totalText);
    m_signTotal->setText(totalText);
    m_signName->setText(fullName);
    m_signAccount->setText(account.isEmpty() ? QString() : QStringLiteral("Account: ") + account);
    for (QLabel* shown : {m_swipeTotal, m_signTotal, m_signName, m_signAccount})
        shown->setVisible(!shown->text().isEmpty());
}

void PadWindow::applySizes()
{
    const int unit = std::max(14, height() / 22);
    for (QLabel* shown : findChildren<QLabel*>()) {
        QFont font = shown->font();
        font.setPixelSize(int(unit * shown->property(kSizeFactor).toDouble()));
        shown->setFont(font);
    }
    int boxWidth = int(width() * kBoxWidthShare);
    int boxHeight = boxWidth * 3 / 10;
    if (boxHeight > height() * kBoxMaxHeightShare) {
        boxHeight = int(height() * kBoxMaxHeightShare);
        boxWidth = boxHeight * 10 / 3;
    }
    m_signingBox->setFixedSize(boxWidth, boxHeight);
    // A fingertip is about 1 cm: a button of at least a tenth of the screen's height.
    const int buttonHeight = std::max(64, height() / 10);
    QFont buttonFont = m_done->font();
    buttonFont.setPixelSize(int(unit * 1.2));
    for (QPushButton* button : {m_clear, m_done}) {
        button->setFixedSize(buttonHeight * 5 / 2, buttonHeight);
        button->setFont(buttonFont);
    }
}

void PadWindow::resizeEvent(QResizeEvent* event)
{
    applySizes();
    QWidget::resizeEvent(event);
}

void PadWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QLinearGradient ground(0, 0, 0, height());
    ground.setColorAt(0, PadLook::kGroundTop);
    ground.setColorAt(1, PadLook::kGroundBottom);
    painter.fillRect(rect(), ground);
}

void PadWindow::keyPressEvent(QKeyEvent* event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (m_form == PadForm::kStart) {
        if (isReturn)
            Q_EMIT entered();
        else
            for (const QChar c : event->text())
                Q_EMIT typed(c);
        return;
    }
    if (m_form == PadForm::kSig && isReturn) {
        Q_EMIT donePressed();
        return;
    }
    if (m_form == PadForm::kSig && event->key() == Qt::Key_Escape) {
        Q_EMIT clearPressed();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PadWindow::closeEvent(QCloseEvent* event)
{
    if (m_closeAllowed)
        event->accept();
    else
        event->ignore();
}
