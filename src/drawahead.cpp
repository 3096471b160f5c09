// drawahead.cpp                                                  -*-C++-*-
#include "drawahead.h"

#include "contract.h"

#include <algorithm>

namespace psex {

DrawAhead::DrawAhead(boost::random::lagged_fibonacci607& generator, std::uint64_t total)
    : d_generator(generator), d_total(total), d_ring(k_chunks, std::vector<double>(k_chunk)),
      d_filled(k_chunks, 0), d_current(k_chunks - 1) {
    d_drawer = std::thread([this] { draw(); });
}

DrawAhead::~DrawAhead() {
    // Chunks not read any more are released, so that the drawer finishes.
    {
        std::lock_guard<std::mutex> lock(d_mutex);
        d_total = 0;
        std::fill(d_filled.begin(), d_filled.end(), 0);
    }
    d_changed.notify_all();
    d_drawer.join();
}

void DrawAhead::nextChunk() {
    std::unique_lock<std::mutex> lock(d_mutex);
    if (d_next != nullptr) {
        d_filled[d_current] = 0; // the chunk just read is free again
        d_changed.notify_all();
    }
    d_current = (d_current + 1) % k_chunks;
    d_changed.wait(lock, [this] { return d_filled[d_current] != 0; });
    d_next = d_ring[d_current].data();
    d_end = d_next + d_filled[d_current];
}

void DrawAhead::draw() {
    std::uint64_t drawn = 0;
    for (std::size_t chunk = 0;; chunk = (chunk + 1) % k_chunks) {
        std::size_t count;
        {
            std::unique_lock<std::mutex> lock(d_mutex);
            d_changed.wait(lock, [&] { return d_filled[chunk] == 0; });
            if (drawn >= d_total) {
                break;
            }
            count = static_cast<std::size_t>(std::min<std::uint64_t>(k_chunk, d_total - drawn));
        }
        // The chunk is free and only this thread writes it until it is
        // marked filled.
        double* out = d_ring[chunk].data();
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = d_generator();
        }
        drawn += count;
        {
            std::lock_guard<std::mutex> lock(d_mutex);
            d_filled[chunk] = count;
        }
        d_changed.notify_all();
    }
}

} // namespace psex
