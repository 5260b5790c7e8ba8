#pragma once

#include <memory>

#include "shell/questionbox.h"

class QMessageBox;

// The question as a QMessageBox, run as a nested event loop until it is answered.
class WidgetQuestionBox final : public QuestionBox
{
public:
    Answer askYesNoCancel(QWidget* owner, const QString& title, const QString& text) override;
    std::optional<QString> askText(QWidget* owner, const QString& title,
                                   const QString& label) override;
    void tell(QWidget* owner, const QString& title, const QString& text) override;

    // The box as it is shown, before it runs.
    static std::unique_ptr<QMessageBox> buildYesNoCancel(QWidget* owner, const QString& title,
                                                         const QString& text);
};
