#include "request/tillkeys.h"

namespace {

class NoTills final : public TillKeys
{
public:
    std::optional<QString> tillOf(const QString&) override { return std::nullopt; }
    void used(const QString&, const QString&) override {}
    Pairing pair(const QString&, const QString&) override { return {}; }
};

} // namespace

TillKeys& TillKeys::none()
{
    static NoTills tills;
    return tills;
}
