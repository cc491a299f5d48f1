#include "tools/carrier/carrier.h"

uint64_t Carrier::stored_total() const {
    uint64_t stored = 0;
    for (const CarrierEntry& entry : entries) stored += entry.stored_size;
    return stored;
}

uint64_t Carrier::decoded_total() const {
    uint64_t decoded = 0;
    for (const CarrierEntry& entry : entries) decoded += entry.decoded_size;
    return decoded;
}
