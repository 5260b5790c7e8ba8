#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QStackedLayout;
class SigningBox;

// The customer's screen of the screen pad: one full-screen window showing one of the pad's
// forms at a time, in large type for reading at arm's length. It shows and reports; what a
// key or a button means is the pad's business.
class PadWindow : public QWidget
{
    Q_OBJECT

public:
    static inline const QString kTitle = QStringLiteral("Varnel Pad");

    explicit PadWindow(QWidget* parent = nullptr);

    // Shows the form; false for a name the pad has no form for.
    bool showForm(const QString& formName);
    const QString& form() const { return m_form; }
    // The request's values the forms show; empty ones are left out.
    void showValues(const QString& total, const QString& fullName, const QString& account);
    SigningBox& signingBox() { return *m_signingBox; }
    // The window may close only when the pad's port closes.
    void allowClose() { m_closeAllowed = true; }

Q_SIGNALS:
    // A character typed while the swipe form shows (a keyboard-mode card reader).
    void typed(QChar character);
    // Return while the swipe form shows.
    void entered();
    void clearPressed();
    void donePressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* textPage(const QString& title, const QString& subtitle);
    QWidget* swipePage();
    QWidget* signPage();
    QLabel* label(const QString& text, double sizeFactor);
    void applySizes();

    QStackedLayout* m_pages;
    QWidget* m_welcome;
    QWidget* m_closed;
    QWidget* m_swipe;
    QWidget* m_sign;
    QLabel* m_swipeTotal;
    QLabel* m_signTotal;
    QLabel* m_signName;
    QLabel* m_signAccount;
    SigningBox* m_signingBox;
    QPushButton* m_clear;
    QPushButton* m_done;
    QString m_form;
    bool m_closeAllowed = false;
};
