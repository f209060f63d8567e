#include "metadatafeed.h"

void MetadataFeed::restart(quint64 load)
{
    currentLoad = load;
    sizes = {};
    kinds = {};
}

void MetadataFeed::reserve(qsizetype pins)
{
    sizes.pins.reserve(pins);
    kinds.pins.reserve(pins);
}

int MetadataFeed::Lane::take()
{
    if (next >= pins.size()) {
        // Everything was handed out: the room goes back at once, not with the next load.
        if (pins.capacity() > 0)
            *this = {};
        return -1;
    }
    return pins.at(next++);
}
