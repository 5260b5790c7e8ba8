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
    // Takes the input of its window and stays in front until it is answered. Not modal for
    // the whole program: the tray icon must still answer, or a box that the window manager
    // let the user minimise could never be brought back.
    box->setWindowModality(Qt::WindowModal);
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
