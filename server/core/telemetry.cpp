#include "core/telemetry.h"

Telemetry& Telemetry::none()
{
    static Telemetry nobody;
    return nobody;
}
