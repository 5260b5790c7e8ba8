#include "shell/widgetquestionbox.h"

#include <QMessageBox>

std::unique_ptr<QMessageBox>
WidgetQuestionBox::buildYesNoCancel(QWidget* owner, const QString& title, const QString& text)
{
    auto box = std::make_unique<QMessageBox>(
        QMessageBox::Critical, title, text,
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, owner);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::Cancel);
    // Takes all input of the program and stays in front until it is answered.
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    return box;
}

QuestionBox::Answer WidgetQuestionBox::askYesNoCancel(QWidget* owner, const QString& title,
                                                      const QString& text)
{
    const std::unique_ptr<QMessageBox> box = buildYesNoCancel(owner, title, text);
    box->show();
    box->raise();
    box->activateWindow();
    switch (box->exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}
