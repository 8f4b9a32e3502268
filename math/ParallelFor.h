// ParallelFor: runs a loop body over contiguous chunks of an index range on several threads.
//
// Shared by every batch routine of the library. The range [0, count) is cut into as many
// contiguous chunks of (almost) equal length as there are threads; the calling thread runs the
// first chunk itself and std::thread runs the others. Each index is visited exactly once and
// by exactly one thread, so a body that writes only to its own output slots and reads shared
// data only through const access gives the same bits for any thread count.
#pragma once

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <vector>

namespace VelSDK {
namespace Math {

/// Threads a batch of `items` runs on: `requested` = 0 means every hardware thread
/// (std::thread::hardware_concurrency(), 1 when unknown); never more than `items`, never fewer
/// than 1.
inline std::size_t ResolveThreadCount(std::size_t requested, std::size_t items) noexcept {
    std::size_t t = requested;
    if (t == 0) {
        const unsigned hw = std::thread::hardware_concurrency();
        t = hw == 0 ? 1 : hw;
    }
    if (t > items) t = items;
    return t == 0 ? 1 : t;
}

/// Calls body(begin, end) for contiguous chunks that together cover [0, count) once, on
/// ResolveThreadCount(threads, count) threads (chunk k is [k * count / t, (k + 1) * count / t)).
/// threads = 1 runs everything on the calling thread without starting a thread. When a thread
/// cannot be started, its chunk runs on the calling thread instead. The first exception a
/// chunk throws (in chunk order) is rethrown after every thread has joined.
template <typename Body>
void ParallelFor(std::size_t count, std::size_t threads, Body&& body) {
    if (count == 0) return;
    const std::size_t t = ResolveThreadCount(threads, count);
    if (t == 1) {
        body(std::size_t{0}, count);
        return;
    }
    const auto chunkBegin = [count, t](std::size_t k) {
        // k * count / t without overflow for any count that fits in memory.
        return static_cast<std::size_t>((static_cast<unsigned long long>(k) * count) / t);
    };
    std::vector<std::exception_ptr> errors(t);
    std::vector<std::thread> workers;
    std::vector<std::size_t> inline_chunks;
    workers.reserve(t - 1);
    for (std::size_t k = 1; k < t; ++k) {
        const std::size_t b = chunkBegin(k);
        const std::size_t e = chunkBegin(k + 1);
        try {
            workers.emplace_back([&body, &errors, k, b, e]() {
                try {
                    body(b, e);
                } catch (...) {
                    errors[k] = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            inline_chunks.push_back(k);
        }
    }
    try {
        body(std::size_t{0}, chunkBegin(1));
    } catch (...) {
        errors[0] = std::current_exception();
    }
    for (std::size_t k : inline_chunks) {
        try {
            body(chunkBegin(k), chunkBegin(k + 1));
        } catch (...) {
            errors[k] = std::current_exception();
        }
    }
    for (std::thread& w : workers) w.join();
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

}  // namespace Math
}  // namespace VelSDK
