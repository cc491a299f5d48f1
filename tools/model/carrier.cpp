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

void Carrier::add_entry(const CarrierEntry& entry) {
    if (entries.size() < kMostListedEntries) {
        entries.push_back(entry);
        return;
    }
    ++unlisted.count;
    unlisted.stored += entry.stored_size;
    unlisted.decoded += entry.decoded_size;
}
