// ParallelFor: runs a loop body over contiguous chunks of an index range on several threads.
//
// Shared by every batch routine of the library. The range [0, count) is cut into as many
// contiguous chunks of (almost) equal length as there are threads; the calling thread runs the
// first chunk itself and std::thread runs the others. Each index is visited exactly once and
// by exactly one thread, so a body that writes only to its own output slots and reads shared
// data only through const access gives the same bits for any thread count.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
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

/// A chunk size for the claimed-chunk ParallelFor below: about eight chunks per thread (so
/// items of uneven cost still balance) and never below minGrain items (so the shared counter
/// is not contended for cheap bodies). At least 1.
inline std::size_t DefaultGrain(std::size_t count, std::size_t threads, std::size_t minGrain) noexcept {
    const std::size_t t = ResolveThreadCount(threads, count == 0 ? 1 : count);
    const std::size_t g = count / (8 * t);
    return std::max<std::size_t>(std::max<std::size_t>(g, minGrain), 1);
}

/// Claimed chunks, for items of uneven cost (fits, segmentations): [0, count) is cut into
/// consecutive chunks of grain items (0 acts as 1; the last chunk shorter) and up to
/// ResolveThreadCount(threads, chunks) threads claim them in increasing order from one shared
/// counter until none is left, so a slow chunk does not hold the others back. Which thread runs
/// which chunk varies from run to run: body must write only to its own items' slots. The
/// calling thread is one of the workers; threads = 1 runs every chunk on it, in order, without
/// starting a thread. An exception that escapes body stops the claiming of further chunks; the
/// first one caught is rethrown on the calling thread after every thread has joined. A thread
/// that cannot be started leaves its share to the threads that run.
template <typename Body>
void ParallelFor(std::size_t count, std::size_t threads, std::size_t grain, Body&& body) {
    if (count == 0) return;
    if (grain == 0) grain = 1;
    const std::size_t chunks = count / grain + (count % grain != 0 ? 1 : 0);
    const std::size_t workers = ResolveThreadCount(threads, chunks);
    if (workers == 1) {
        for (std::size_t b = 0; b < count; b += grain) body(b, std::min(count, b + grain));
        return;
    }

    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::exception_ptr first;
    std::mutex firstMutex;
    auto work = [&]() noexcept {
        try {
            while (!stop.load(std::memory_order_relaxed)) {
                const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
                if (c >= chunks) break;
                const std::size_t b = c * grain;
                body(b, std::min(count, b + grain));
            }
        } catch (...) {
            stop.store(true, std::memory_order_relaxed);
            std::lock_guard<std::mutex> lock(firstMutex);
            if (!first) first = std::current_exception();
        }
    };

    std::vector<std::thread> pool;
    try {
        pool.reserve(workers - 1);
        for (std::size_t t = 1; t < workers; ++t) pool.emplace_back(work);
    } catch (const std::system_error&) {
        // Fewer threads than asked: the ones running (and this one) take the rest.
    } catch (const std::bad_alloc&) {
    }
    work();
    for (std::thread& t : pool) t.join();
    if (first) std::rethrow_exception(first);
}

}  // namespace Math
}  // namespace VelSDK
