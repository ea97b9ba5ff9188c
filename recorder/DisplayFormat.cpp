#include "DisplayFormat.h"

#include <cstdint>
#include <cstdio>

std::string FormatThousands(DWORD value)
{
    // Each group of three digits takes four decimal places of a double; its leading 0 becomes
    // the separator.
    DWORD groups[4];
    for (DWORD& group : groups) {
        group = value % 1000;
        value /= 1000;
    }
    double number = 0.0;
    for (int i = 3; i >= 0; --i)
        number = number * 10000 + groups[i];
    char text[32];
    std::snprintf(text, sizeof text, "%1.0f", number);
    std::string result = text;
    for (long index = static_cast<long>(result.size()) - 4; index > 0; index -= 4)
        result[static_cast<std::size_t>(index)] = ' ';
    return result;
}

std::string FormatTime(double seconds)
{
    const auto tenths = static_cast<DWORD>(static_cast<std::int64_t>(seconds * 10.0 + 0.5));
    const DWORD withinMinute = tenths % 600;
    const DWORD minutes = tenths / 600;
    const DWORD hours = minutes / 60;
    const DWORD minuteOfHour = minutes % 60;
    const double packed = ((static_cast<double>(hours) * 1000 + minuteOfHour) * 10000 + withinMinute) * 0.1;
    char text[48];
    std::snprintf(text, sizeof text, "%3.1f", packed);
    std::string result = text;
    const long length = static_cast<long>(result.size());
    if (length - 5 > 0)
        result[static_cast<std::size_t>(length - 5)] = ':';
    if (length - 8 > 0)
        result[static_cast<std::size_t>(length - 8)] = ':';
    return result;
}

DWORD AlignUp(DWORD value, DWORD step)
{
    if (step <= 1)
        return value;
    return (value + step - 1) / step * step;
}
