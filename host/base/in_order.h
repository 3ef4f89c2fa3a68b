// Jobs run side by side, reported one after another in their order.
#ifndef HOST_BASE_IN_ORDER_H_
#define HOST_BASE_IN_ORDER_H_

#include <cstddef>
#include <functional>

// Runs job(i) for each i below `count` on up to `workers` threads, starting them in the
// order of i. Calls report(i) on the calling thread, in the order of i, as soon as job i
// and all before it have ended. A job returns whether it succeeded. With
// `stop_at_failure`, no job starts after one has failed, and reports end with the first
// failing i; jobs already running are waited for. Returns how many were reported.
// REQUIRES: workers > 0; each job touches only what is its own.
std::size_t run_in_order(std::size_t count, std::size_t workers, bool stop_at_failure,
                         const std::function<bool(std::size_t)>& job,
                         const std::function<void(std::size_t)>& report);

#endif  // HOST_BASE_IN_ORDER_H_
