// The table run against Gecode's extensional constraint (compact table over a TupleSet), in one
// process on one table: the table of problem 1 (same draws, same value numbering), the same
// target tuple and the same removals in the same order, propagating after each. Prints, per
// repetition, the construction and the removal loop of both sides, their minor page faults, and
// the medians; exits 1 if the two sides ever disagree on the removals or the final domains.
//
//   gecode_table [--reps N] [arity numTuples upper]...      (default: the four sizes below)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gecode/int.hh>
#include <sstream>
#include <string>
#include <vector>

#include "../bench_support.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/next_random.h"
#include "varnel/table/table_reduction.h"
#include "varnel/table/tuple_table.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsBetween(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

// Minor page faults of this process so far: field 10 of /proc/self/stat (0 where unreadable).
std::uint64_t minorFaults() {
  std::ifstream file("/proc/self/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  // After the command name: state(3) ppid pgrp session tty_nr tpgid flags minflt(10).
  for (int k = 3; k < 10; ++k) fields >> field;
  std::uint64_t faults = 0;
  fields >> faults;
  return faults;
}

using varnel::bench::FreshAllocatorScope;

// One space: the variables over the value indices and the table constraint on them.
class ReductionSpace : public Gecode::Space {
 public:
  ReductionSpace(const std::vector<int>& domainSizes, const Gecode::TupleSet& tuples)
      : vars_(*this, static_cast<int>(domainSizes.size())) {
    for (int i = 0; i < vars_.size(); ++i) {
      vars_[i] = Gecode::IntVar(*this, 0, domainSizes[static_cast<std::size_t>(i)] - 1);
    }
    Gecode::extensional(*this, vars_, tuples);
  }
  ReductionSpace(ReductionSpace& other) : Gecode::Space(other) { vars_.update(*this, other.vars_); }
  Gecode::Space* copy() override { return new ReductionSpace(*this); }

  Gecode::IntVarArray& vars() { return vars_; }

 private:
  Gecode::IntVarArray vars_;
};

struct SideResult {
  double buildMs = 0;   // construction (and, for Gecode, the tuple set) up to the first fixpoint
  double reduceMs = 0;  // the removal loop
  std::uint64_t buildFaults = 0;
  std::uint64_t reduceFaults = 0;
  std::int32_t calls = 0;  // removals made (each followed by a propagation)
  bool reachedCentre = false;
};

// Our side, phase by phase, with the constraint's public operations in runTableReduction's order.
SideResult runOurs(const varnel::TupleTable& table, const std::vector<std::int32_t>& centre) {
  FreshAllocatorScope scope;
  SideResult result;
  const std::uint64_t faults0 = minorFaults();
  const Clock::time_point start = Clock::now();
  auto* constraint = varnel::newPooled<varnel::GAC4RTableCt>(table);
  auto* centreArray = varnel::newPooled<varnel::Array<std::int32_t>>(table.arity());
  for (std::int32_t i = 0; i < table.arity(); ++i)
    (*centreArray)[i] = centre[static_cast<std::size_t>(i)];
  constraint->initSupports();
  constraint->pruneUnsupported();
  const Clock::time_point built = Clock::now();
  const std::uint64_t faults1 = minorFaults();
  result.calls = varnel::reduceToTuple(*constraint, table, *centreArray);
  const Clock::time_point end = Clock::now();
  const std::uint64_t faults2 = minorFaults();
  result.buildMs = millisecondsBetween(start, built);
  result.reduceMs = millisecondsBetween(built, end);
  result.buildFaults = faults1 - faults0;
  result.reduceFaults = faults2 - faults1;
  result.reachedCentre = true;
  for (std::int32_t i = 0; i < table.arity(); ++i) {
    const varnel::Set& domain = constraint->domain(i);
    result.reachedCentre = result.reachedCentre && domain.size() == 1 &&
                           domain.contains(centre[static_cast<std::size_t>(i)]);
  }
  varnel::deletePooled(centreArray);
  varnel::deletePooled(constraint);
  return result;
}

// Gecode's side: the tuple set from the same value indices, the space, the first fixpoint, then
// the same removals: variables from the last to the first, value indices increasing, skipping
// the centre's value and values already gone.
SideResult runGecode(const varnel::TupleTable& table, const std::vector<std::int32_t>& centre) {
  SideResult result;
  const std::int32_t arity = table.arity();
  std::vector<int> domainSizes(static_cast<std::size_t>(arity));
  for (std::int32_t i = 0; i < arity; ++i)
    domainSizes[static_cast<std::size_t>(i)] = table.valueCount(i);

  const std::uint64_t faults0 = minorFaults();
  const Clock::time_point start = Clock::now();
  Gecode::TupleSet tuples(arity);
  Gecode::IntArgs row(arity);
  for (std::int32_t t = 0; t < table.tupleCount(); ++t) {
    const std::int32_t* values = table.tuple(t);
    for (std::int32_t i = 0; i < arity; ++i) row[i] = values[i];
    tuples.add(row);
  }
  tuples.finalize();
  auto* space = new ReductionSpace(domainSizes, tuples);
  const bool consistent = space->status() != Gecode::SS_FAILED;
  const Clock::time_point built = Clock::now();
  const std::uint64_t faults1 = minorFaults();

  Gecode::IntVarArray& vars = space->vars();
  for (std::int32_t i = arity - 1; i >= 0 && consistent; --i) {
    for (int j = 0; j < domainSizes[static_cast<std::size_t>(i)]; ++j) {
      if (j == centre[static_cast<std::size_t>(i)] || !vars[i].in(j)) continue;
      Gecode::rel(*space, vars[i], Gecode::IRT_NQ, j);
      space->status();
      ++result.calls;
    }
  }
  const Clock::time_point end = Clock::now();
  const std::uint64_t faults2 = minorFaults();
  result.buildMs = millisecondsBetween(start, built);
  result.reduceMs = millisecondsBetween(built, end);
  result.buildFaults = faults1 - faults0;
  result.reduceFaults = faults2 - faults1;
  result.reachedCentre = consistent;
  for (std::int32_t i = 0; i < arity && consistent; ++i) {
    result.reachedCentre = result.reachedCentre && vars[i].assigned() &&
                           vars[i].val() == centre[static_cast<std::size_t>(i)];
  }
  delete space;
  return result;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Size {
  std::int32_t arity;
  std::int32_t numTuples;
  std::int32_t upper;
};

// Runs one size `reps` times, the two sides alternating; false when they disagree.
bool compareOnSize(const Size& size, int reps) {
  // The table exactly as problem 1 builds it: the first draws of a thread's generator, so the
  // sequence starts over for every size.
  varnel::detail::randomState = 1;
  auto* table = varnel::newPooled<varnel::TupleTable>(size.arity, size.numTuples, size.upper);
  table->fillRandom(size.upper);
  const std::int32_t* target = table->tuple(varnel::centreTupleOf(*table));
  const std::vector<std::int32_t> centre(target, target + size.arity);

  std::vector<double> ourBuild, ourReduce, ourTotal, endToEnd, gecodeBuild, gecodeReduce,
      gecodeTotal;
  bool agreed = true;
  for (int rep = 0; rep < reps; ++rep) {
    const SideResult ours = runOurs(*table, centre);
    const SideResult gecode = runGecode(*table, centre);
    std::int64_t wholeRun = 0;
    {
      // runTableReduction itself, as problem 1 calls it, in a fresh allocator too.
      FreshAllocatorScope scope;
      const varnel::TupleTable* shared = table;
      wholeRun = varnel::runTableReduction(&shared, size.arity);
    }
    std::printf(
        "rep arity=%d tuples=%d upper=%d rep=%d ours_build_ms=%.3f ours_reduce_ms=%.3f "
        "ours_faults=%llu+%llu runTableReduction_ms=%lld gecode_build_ms=%.3f "
        "gecode_reduce_ms=%.3f gecode_faults=%llu+%llu calls=%d/%d\n",
        size.arity, size.numTuples, size.upper, rep, ours.buildMs, ours.reduceMs,
        static_cast<unsigned long long>(ours.buildFaults),
        static_cast<unsigned long long>(ours.reduceFaults), static_cast<long long>(wholeRun),
        gecode.buildMs, gecode.reduceMs, static_cast<unsigned long long>(gecode.buildFaults),
        static_cast<unsigned long long>(gecode.reduceFaults), ours.calls, gecode.calls);
    std::fflush(stdout);
    if (!ours.reachedCentre || !gecode.reachedCentre || ours.calls != gecode.calls) {
      std::fprintf(stderr,
                   "gecode_table: the sides disagree (arity %d, %d tuples, upper %d): removals "
                   "%d against %d, centre reached %d and %d\n",
                   size.arity, size.numTuples, size.upper, ours.calls, gecode.calls,
                   ours.reachedCentre, gecode.reachedCentre);
      agreed = false;
    }
    ourBuild.push_back(ours.buildMs);
    ourReduce.push_back(ours.reduceMs);
    ourTotal.push_back(ours.buildMs + ours.reduceMs);
    endToEnd.push_back(static_cast<double>(wholeRun));
    gecodeBuild.push_back(gecode.buildMs);
    gecodeReduce.push_back(gecode.reduceMs);
    gecodeTotal.push_back(gecode.buildMs + gecode.reduceMs);
  }
  const double ratio = median(gecodeTotal) / std::max(median(ourTotal), 1e-9);
  std::printf(
      "median arity=%d tuples=%d upper=%d reps=%d ours_build_ms=%.2f ours_reduce_ms=%.2f "
      "ours_total_ms=%.2f runTableReduction_ms=%.0f gecode_build_ms=%.2f gecode_reduce_ms=%.2f "
      "gecode_total_ms=%.2f gecode_over_ours=%.1f\n",
      size.arity, size.numTuples, size.upper, reps, median(ourBuild), median(ourReduce),
      median(ourTotal), median(endToEnd), median(gecodeBuild), median(gecodeReduce),
      median(gecodeTotal), ratio);
  std::fflush(stdout);
  varnel::deletePooled(table);
  return agreed;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 3;
  std::vector<Size> sizes;
  std::vector<std::int32_t> numbers;
  for (int a = 1; a < argc; ++a) {
    const std::string arg(argv[a]);
    if (arg == "--reps" && a + 1 < argc) {
      reps = std::max(1, std::atoi(argv[++a]));
    } else {
      numbers.push_back(static_cast<std::int32_t>(std::atol(argv[a])));
    }
  }
  if (numbers.size() % 3 != 0) {
    std::fprintf(stderr, "usage: gecode_table [--reps N] [arity numTuples upper]...\n");
    return 2;
  }
  for (std::size_t k = 0; k < numbers.size(); k += 3) {
    sizes.push_back({numbers[k], numbers[k + 1], numbers[k + 2]});
  }
  if (sizes.empty()) {
    sizes = {{10, 100000, 10}, {10, 1000000, 10}, {20, 1000000, 10}, {10, 1000000, 100}};
  }
  bool agreed = true;
  for (const Size& size : sizes) agreed = compareOnSize(size, reps) && agreed;
  return agreed ? 0 : 1;
}
