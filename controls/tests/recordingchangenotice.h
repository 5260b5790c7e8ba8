#pragma once

#include <QStringList>

#include "changenotice.h"

// Records the names it is told of; refuses the one named in refuse.
class RecordingChangeNotice final : public Quillset::ChangeNotice
{
public:
    Quillset::Status propertyChanged(const QString& name) override
    {
        if (name == refuse)
            return Quillset::Status::failure(Quillset::StatusCode::ChangeRefused,
                                             QStringLiteral("refused"));
        names << name;
        return {};
    }

    QStringList names;
    QString refuse;
};
