// The config editor's value parser and the texts it writes back: whatever parses must survive being
// written as JSON (and, for numbers, as the value edit shows them) and read again.
#include "configvaluetext.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(fuzzInput(data, size));
    isRiskyConfigKey(text);

    QJsonValue value = QJsonValue::Undefined;
    if (!parseJsonValueText(text, &value)) {
        FUZZ_CHECK(value.isUndefined()); // left untouched
        return 0;
    }
    FUZZ_CHECK(!value.isUndefined());
    jsonValueToDisplayString(value);

    QJsonValue again;
    FUZZ_CHECK(parseJsonValueText(jsonValueToJsonText(value), &again));
    FUZZ_CHECK(again == value);

    const QString compact = jsonValueToCompactString(value);
    if (!value.isString()) {
        QJsonValue fromCompact;
        FUZZ_CHECK(parseJsonValueText(compact, &fromCompact));
        FUZZ_CHECK(fromCompact == value);
    } else {
        FUZZ_CHECK(compact == value.toString());
    }
    return 0;
}
