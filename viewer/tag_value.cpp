#include "viewer/tag_value.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "runtime_link/ansi_text.h"

namespace {

bool ReadWholeNumber(const char* text, int32_t& value)
{
    if (*text == '\0') {
        value = 0;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    long long number = std::strtoll(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) return false;
    value = int32_t(number);
    return true;
}

bool ReadReal(const char* text, float& value)
{
    if (*text == '\0') {
        value = 0;
        return true;
    }
    char* end = nullptr;
    float number = std::strtof(text, &end);
    if (*end != '\0' || !std::isfinite(number)) return false;
    value = number;
    return true;
}

}  // namespace

bool SetInitialValue(TagRecord& record, const TagDefinition& tag)
{
    const std::string text = AnsiFieldText(tag.initialValue, sizeof tag.initialValue);
    switch (ValueKindOfTypeCode(tag.typeCode)) {
    case kValueKindDiscrete:
        return ReadWholeNumber(text.c_str(), record.discreteValue);
    case kValueKindInteger:
        return ReadWholeNumber(text.c_str(), record.integerValue);
    case kValueKindReal:
        return ReadReal(text.c_str(), record.realValue);
    case kValueKindString:
        CopyAnsiField(record.stringValue, sizeof record.stringValue, text);
        return true;
    case kValueKindNone:
        break;
    }
    return true;
}

std::string ValueText(const TagRecord& record)
{
    char number[32] = {};
    switch (ValueKindOfTypeCode(record.typeCode)) {
    case kValueKindDiscrete:
        std::snprintf(number, sizeof number, "%d", int(record.discreteValue));
        break;
    case kValueKindInteger:
        std::snprintf(number, sizeof number, "%d", int(record.integerValue));
        break;
    case kValueKindReal:
        std::snprintf(number, sizeof number, "%g", double(record.realValue));
        break;
    case kValueKindString:
        return AnsiFieldText(record.stringValue, sizeof record.stringValue);
    case kValueKindNone:
        return "-";
    }
    return number;
}
