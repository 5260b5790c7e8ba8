#pragma once

#include <optional>

#include <QString>

class QWidget;

// Asks the user a question in a message box: the platform's box in the program, a recorded
// answer in tests.
class QuestionBox
{
public:
    enum class Answer { Yes, No, Cancel };

    virtual ~QuestionBox() = default;
    // A Yes/No/Cancel question with the stop icon and No as the default button, modal for its
    // owner and in front of every window; the tray icon keeps answering. `owner` may be null.
    virtual Answer askYesNoCancel(QWidget* owner, const QString& title, const QString& text) = 0;
    // Asks for one line of text under `label`; nothing when the user cancels.
    virtual std::optional<QString> askText(QWidget* owner, const QString& title,
                                           const QString& label) = 0;
    // Shows `text` until the user has read it.
    virtual void tell(QWidget* owner, const QString& title, const QString& text) = 0;
};
