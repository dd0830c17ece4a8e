// Feeds fuzz input through a MessageReader in pieces whose sizes the input itself chooses, and
// hands every whole message to a decoder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "wire.h"

template <typename Decode>
void FeedMessages(const uint8_t* data, size_t size, uint32_t maxBody, Decode decode) {
    if (size == 0) return;
    const size_t piece = 1 + data[0] % 64 * 97;  // 1 .. 6112 bytes a read
    ++data;
    --size;
    tarnlink::wire::MessageReader reader(maxBody);
    while (size > 0) {
        const auto space = reader.WritableSpace();
        const size_t n = std::min({piece, size, space.size()});
        std::copy_n(data, n, space.begin());
        reader.Commit(n);
        data += n;
        size -= n;
        tarnlink::wire::Message m;
        tarnlink::wire::MessageReader::Result r;
        while ((r = reader.Next(m)) == tarnlink::wire::MessageReader::Result::Message) decode(m);
        if (r == tarnlink::wire::MessageReader::Result::Malformed) return;  // the link would end here
    }
}
