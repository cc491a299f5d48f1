#include "tools/model/carrier.h"

uint64_t Carrier::stored_total() const {
    uint64_t stored = unlisted.stored;
    for (const CarrierEntry& entry : entries) stored += entry.stored_size;
    return stored;
}

uint64_t Carrier::decoded_total() const {
    uint64_t decoded = unlisted.decoded;
    for (const CarrierEntry& entry : entries) decoded += entry.decoded_size;
    return decoded;
}

// Those kept are the first: once one is only counted, so is every later one.
bool Carrier::keeps(const CarrierEntry& entry) const {
    return unlisted.count == 0 && entries.size() < kMostListedEntries &&
           listed_bytes + sizeof entry + entry.name.size() <= kMostListedBytes;
}

void Carrier::add_entry(const CarrierEntry& entry) {
    if (keeps(entry)) {
        listed_bytes += sizeof entry + entry.name.size();
        entries.push_back(entry);
        return;
    }
    ++unlisted.count;
    unlisted.stored += entry.stored_size;
    unlisted.decoded += entry.decoded_size;
}
