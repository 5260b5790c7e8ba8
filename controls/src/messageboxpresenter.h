#pragma once

#include <QString>

#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

// Shows a message to the person at the host: one OK button, no icon, the platform's title.
class QUILLSET_EXPORT MessageBoxPresenter
{
public:
    virtual ~MessageBoxPresenter() = default;
    virtual Status show(const QString& text) = 0;
};

} // namespace Quillset
