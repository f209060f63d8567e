// One line of a streamed pin listing. The reader has a quick path for plain lines; whatever it
// accepts or rejects, it must agree with reading the line as a JSON document.
#include "fuzzsupport.h"
#include "pinlistparser.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool readThroughJson(const QByteArray& line, PinEntry* entry)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return false;
    const QJsonObject object = document.object();
    QJsonObject source;
    if (object.contains(QLatin1String("PinLsObject")))
        source = object.value(QLatin1String("PinLsObject")).toObject();
    else if (object.contains(QLatin1String("Cid")))
        source = object;
    else
        return false;
    entry->cid = source.value(QLatin1String("Cid")).toString();
    entry->type = source.value(QLatin1String("Type")).toString();
    entry->name = source.value(QLatin1String("Name")).toString();
    return !entry->cid.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray line = fuzzInput(data, size);
    PinEntry read;
    const bool accepted = parsePinLsLine(line, &read);
    PinEntry expected;
    const bool expectedAccepted = readThroughJson(line, &expected);
    FUZZ_CHECK(accepted == expectedAccepted);
    if (accepted) {
        FUZZ_CHECK(!read.cid.isEmpty());
        FUZZ_CHECK(read.cid == expected.cid);
        FUZZ_CHECK(read.type == expected.type);
        FUZZ_CHECK(read.name == expected.name);
    }
    return 0;
}
