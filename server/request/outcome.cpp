#include "request/outcome.h"

#include <type_traits>

std::optional<DeviceId> deviceOf(const Outcome& outcome)
{
    return std::visit(
        [](const auto& o) -> std::optional<DeviceId> {
            using Kind = std::decay_t<decltype(o)>;
            if constexpr (requires { Kind::kDevice; })
                return Kind::kDevice;
            else if constexpr (requires { o.device(); })
                return o.device();
            else if constexpr (requires { o.device; })
                return o.device;
            else
                return std::nullopt;
        },
        outcome);
}

bool deviceAtFault(const Outcome& outcome)
{
    return std::visit(
        [](const auto& o) {
            if constexpr (requires { o.padFault; })
                return o.padFault;
            else
                return true;
        },
        outcome);
}

ReplyOutcome endingOf(const Outcome& outcome)
{
    return std::visit(
        [](const auto& o) {
            using Kind = std::decay_t<decltype(o)>;
            if constexpr (requires { Kind::kEnding; })
                return Kind::kEnding;
            else
                return ReplyOutcome::Ok;
        },
        outcome);
}
