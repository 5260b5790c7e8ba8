#pragma once

#include <QString>

namespace Quillset {

// Numbers of the failures a member reports.
namespace StatusCode {
constexpr int Success = 0;
// A value does not fit the field it goes to.
constexpr int Overflow = 6;
// A stored value is not of the kind the field needs.
constexpr int TypeMismatch = 13;
// The property store could not be read or written.
constexpr int StoreAccess = 75;
// The drawing surface refuses the value (an unknown colour, a border style, a zero scale).
constexpr int InvalidPropertyValue = 380;
// The container refused to hear of a change.
constexpr int ChangeRefused = 383;
} // namespace StatusCode

// The result of every member of the controls: success, or the failure of the container
// service that stopped the member at that point.
class [[nodiscard]] Status
{
public:
    Status() = default;
    static Status failure(int code, QString text)
    {
        Status status;
        status.m_code = code;
        status.m_text = std::move(text);
        return status;
    }

    bool ok() const { return m_code == StatusCode::Success; }
    int code() const { return m_code; }
    const QString& text() const { return m_text; }

private:
    int m_code = StatusCode::Success;
    QString m_text;
};

} // namespace Quillset
