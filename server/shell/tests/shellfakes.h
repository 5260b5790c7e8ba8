#pragma once

#include <functional>

#include <QIcon>
#include <QList>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include "shell/questionbox.h"
#include "shell/trayicon.h"
#include "shell/urllauncher.h"

// Answers each question with the next answer given, and keeps what was asked.
class RecordingQuestionBox final : public QuestionBox
{
public:
    struct Question
    {
        QWidget* owner;
        QString title;
        QString text;
    };

    Answer askYesNoCancel(QWidget* owner, const QString& title, const QString& text) override
    {
        asked.append({owner, title, text});
        const Answer answer = answers.isEmpty() ? Answer::Cancel : answers.takeFirst();
        // What happens while the box is open.
        if (onAsk)
            onAsk();
        return answer;
    }

    std::optional<QString> askText(QWidget* owner, const QString& title,
                                   const QString& label) override
    {
        asked.append({owner, title, label});
        return texts.isEmpty() ? std::nullopt : std::optional<QString>(texts.takeFirst());
    }

    void tell(QWidget* owner, const QString& title, const QString& text) override
    {
        told.append({owner, title, text});
    }

    QList<Answer> answers;
    // The answers to askText, in turn; none left is a cancel.
    QList<QString> texts;
    QList<Question> asked;
    QList<Question> told;
    std::function<void()> onAsk;
};

// A notification area that the test can take away, and clicks on the icon that it makes.
class FakeTray final : public TrayIcon
{
public:
    bool isAvailable() const override { return available; }
    void add(const QIcon& icon, const QString& tip) override
    {
        ++adds;
        shown = true;
        addedIcon = icon;
        addedTip = tip;
    }
    void remove() override { shown = false; }
    void showMessage(const QString& title, const QString& text) override
    {
        messages << title + QStringLiteral(": ") + text;
    }
    void setTip(const QString& tip) override { addedTip = tip; }
    void click(int code) { Q_EMIT mouseEvent(code); }

    bool available = true;
    int adds = 0;
    bool shown = false;
    QIcon addedIcon;
    QString addedTip;
    QStringList messages;
};

// Keeps the addresses it was asked to open, as the desktop would have opened them.
class RecordingLauncher final : public UrlLauncher
{
public:
    bool openUrl(const QUrl& url) override
    {
        opened << url;
        if (onOpen)
            onOpen(url);
        return starts;
    }

    bool starts = true;
    QList<QUrl> opened;
    std::function<void(const QUrl&)> onOpen;
};
