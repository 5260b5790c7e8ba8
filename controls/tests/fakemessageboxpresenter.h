#pragma once

#include <QStringList>

#include "messageboxpresenter.h"

// Keeps the texts it is asked to show.
class FakeMessageBoxPresenter final : public Quillset::MessageBoxPresenter
{
public:
    Quillset::Status show(const QString& text) override
    {
        texts << text;
        return {};
    }

    QStringList texts;
};
