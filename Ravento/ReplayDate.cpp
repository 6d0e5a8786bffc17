// A hand-written reader instead of sscanf: this runs on the game thread each time a replay
// starts, and sscanf's stream set-up costs more than the rest of the date check.
#include "ReplayDate.h"

namespace plugin {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One "%<width>d": leading white space is skipped and not counted, then a sign and digits up to
// width characters. Reading stops at the text's first NUL, as it does for a C string.
bool ReadNumber(const char*& text, int width, int& value)
{
    while (IsSpace(*text))
        ++text;
    const char* start = text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    const char* digits = text;
    int number = 0;
    while (text - start < width && IsDigit(*text))
        number = number * 10 + (*text++ - '0');
    if (text == digits)
        return false;
    value = negative ? -number : number;
    return true;
}

bool ReadSeparator(const char*& text)
{
    if (*text != '-')
        return false;
    ++text;
    return true;
}

} // namespace

ReplayDate ReadReplayDate(const std::string& text)
{
    ReplayDate date;
    const char* next = text.c_str();
    if (ReadNumber(next, 4, date.year) && ReadSeparator(next) && ReadNumber(next, 2, date.month) && ReadSeparator(next))
        ReadNumber(next, 2, date.day);
    return date;
}

bool IsInRepairWindow(const std::string& replayDate)
{
    ReplayDate date = ReadReplayDate(replayDate);
    if (date.year != 2025)
        return false;
    return !(date.month <= 4 && date.day <= 23);
}

} // namespace plugin
