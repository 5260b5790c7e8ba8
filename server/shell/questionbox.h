#pragma once

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
};
