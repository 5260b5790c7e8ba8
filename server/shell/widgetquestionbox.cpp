#include "shell/widgetquestionbox.h"

#include <QInputDialog>
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

std::optional<QString> WidgetQuestionBox::askText(QWidget* owner, const QString& title,
                                                  const QString& label)
{
    bool ok = false;
    const QString text = QInputDialog::getText(owner, title, label, QLineEdit::Normal, {}, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

void WidgetQuestionBox::tell(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, owner);
    // The code must be readable and copyable off the box.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
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
