// The two ways of calling: all calls at once (pipelined) and one call in flight at a
// time (ping-pong). Both check every reply against its call, in order.
#ifndef BENCH_DRIVER_EXCHANGE_H_
#define BENCH_DRIVER_EXCHANGE_H_

#include <string>
#include <vector>

#include "contestant.h"
#include "workload.h"

struct Exchange {
  bool ok = false;
  std::string problem;                 // when not ok: the first wrong or missing reply
  double seconds = 0;                  // from the first byte written to the last reply read
  std::vector<double> round_trips_us;  // ping-pong only: one per call, in call order
};

// Writes every call as fast as the input pipe takes it while reading replies.
Exchange run_pipelined(const Process& process, const Contestant& contestant,
                       const Workload& workload);

// Writes each call only after the reply to the one before has been read.
Exchange run_ping_pong(const Process& process, const Contestant& contestant,
                       const Workload& workload);

#endif  // BENCH_DRIVER_EXCHANGE_H_
