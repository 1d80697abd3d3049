// The table run against Gecode's extensional constraint (compact table over a TupleSet), a
// simple-tabular-reduction peer (STR2, str2_table.h) and the library's own Compact-Table
// (CompactTableRev), in one process on one table: the table of problem 1 (same draws, same value
// numbering), the same target tuple and the same removals in the same order, propagating after
// each. Prints, per repetition, the construction and the removal loop of the four sides, their
// minor page faults, and the medians; exits 1 if the sides ever disagree on the removals or the
// final domains, or if STR2's or Compact-Table's domain sizes after any propagation differ from
// GAC-4R's.
//
//   gecode_table [--reps N] [arity numTuples upper]...      (default: the four sizes below)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gecode/int.hh>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../bench_support.h"
#include "str2_table.h"
#include "varnel/memory/allocator.h"
#include "varnel/memory/pooled.h"
#include "varnel/search/propagators/compact_table_rev.h"
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
  std::vector<std::int32_t> domainSizes;  // after each propagation, arity entries per call
};

// Times a side's two phases, construction and removal loop, with the process's minor faults
// in each: started at construction, marked when the first fixpoint is reached and at the end.
class PhaseClock {
 public:
  void markBuilt() {
    built_ = Clock::now();
    faultsBuilt_ = minorFaults();
  }
  void markEnd(SideResult& result) const {
    const Clock::time_point end = Clock::now();
    const std::uint64_t faultsEnd = minorFaults();
    result.buildMs = millisecondsBetween(start_, built_);
    result.reduceMs = millisecondsBetween(built_, end);
    result.buildFaults = faultsBuilt_ - faultsStart_;
    result.reduceFaults = faultsEnd - faultsBuilt_;
  }

 private:
  std::uint64_t faultsStart_ = minorFaults();  // read first, as the clock below is
  Clock::time_point start_ = Clock::now();
  Clock::time_point built_{};
  std::uint64_t faultsBuilt_ = 0;
};

// Room for the domain sizes after every propagation a reduction can make (one per value).
std::size_t traceCapacity(const varnel::TupleTable& table) {
  std::size_t values = 0;
  for (std::int32_t i = 0; i < table.arity(); ++i) values += table.valueCount(i);
  return values * static_cast<std::size_t>(table.arity());
}

// Our side, phase by phase, with the constraint's public operations in runTableReduction's order.
SideResult runOurs(const varnel::TupleTable& table, const std::vector<std::int32_t>& centre) {
  FreshAllocatorScope scope;
  SideResult result;
  PhaseClock clock;
  auto* constraint = varnel::newPooled<varnel::GAC4RTableCt>(table);
  auto* centreArray = varnel::newPooled<varnel::Array<std::int32_t>>(table.arity());
  for (std::int32_t i = 0; i < table.arity(); ++i)
    (*centreArray)[i] = centre[static_cast<std::size_t>(i)];
  constraint->initSupports();
  constraint->pruneUnsupported();
  clock.markBuilt();
  result.calls = varnel::reduceToTuple(*constraint, table, *centreArray);
  clock.markEnd(result);
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

// Our constraint again, untimed: the same loop as reduceToTuple, recording the domain sizes after
// each propagation, which STR2's must match call for call.
std::vector<std::int32_t> ourDomainSizes(const varnel::TupleTable& table,
                                         const std::vector<std::int32_t>& centre) {
  FreshAllocatorScope scope;
  std::vector<std::int32_t> sizes;
  sizes.reserve(traceCapacity(table));
  auto* constraint = varnel::newPooled<varnel::GAC4RTableCt>(table);
  constraint->initSupports();
  constraint->pruneUnsupported();
  const std::int32_t arity = table.arity();
  for (std::int32_t i = arity - 1; i >= 0; --i) {
    for (std::int32_t j = 0; j < table.valueCount(i); ++j) {
      if (j == centre[static_cast<std::size_t>(i)] || !constraint->domain(i).contains(j)) continue;
      constraint->removeValue(i, j);
      constraint->propagate();
      for (std::int32_t x = 0; x < arity; ++x) sizes.push_back(constraint->domain(x).size());
    }
  }
  varnel::deletePooled(constraint);
  return sizes;
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

  PhaseClock clock;
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
  clock.markBuilt();

  Gecode::IntVarArray& vars = space->vars();
  for (std::int32_t i = arity - 1; i >= 0 && consistent; --i) {
    for (int j = 0; j < domainSizes[static_cast<std::size_t>(i)]; ++j) {
      if (j == centre[static_cast<std::size_t>(i)] || !vars[i].in(j)) continue;
      Gecode::rel(*space, vars[i], Gecode::IRT_NQ, j);
      space->status();
      ++result.calls;
    }
  }
  clock.markEnd(result);
  result.reachedCentre = consistent;
  for (std::int32_t i = 0; i < arity && consistent; ++i) {
    result.reachedCentre = result.reachedCentre && vars[i].assigned() &&
                           vars[i].val() == centre[static_cast<std::size_t>(i)];
  }
  delete space;
  return result;
}

// STR2's side: the copy of the tuples and the first walk, then the same removals, recording the
// domain sizes after each propagation (a store of arity numbers, into room reserved before).
SideResult runStr2(const varnel::TupleTable& table, const std::vector<std::int32_t>& centre) {
  SideResult result;
  result.domainSizes.reserve(traceCapacity(table));
  const std::int32_t arity = table.arity();
  PhaseClock clock;
  auto str2 = std::make_unique<varnel::bench::Str2Table>(table);
  str2->propagate();
  clock.markBuilt();
  for (std::int32_t i = arity - 1; i >= 0; --i) {
    for (std::int32_t j = 0; j < str2->valueCount(i); ++j) {
      if (j == centre[static_cast<std::size_t>(i)] || !str2->contains(i, j)) continue;
      str2->removeValue(i, j);
      str2->propagate();
      ++result.calls;
      for (std::int32_t x = 0; x < arity; ++x) result.domainSizes.push_back(str2->domainSize(x));
    }
  }
  clock.markEnd(result);
  result.reachedCentre = true;
  for (std::int32_t i = 0; i < arity; ++i) {
    result.reachedCentre = result.reachedCentre && str2->domainSize(i) == 1 &&
                           str2->contains(i, centre[static_cast<std::size_t>(i)]);
  }
  return result;
}

// Compact-Table's side: the support masks (one pass over the tuples setting bits), the variables
// and the constraint with its first filtering, then the same removals, each followed by a run of
// the queue, recording the domain sizes like STR2's side. Nothing is pushed: no removal is ever
// undone, so nothing is recorded on the trail.
SideResult runCompactTable(const varnel::TupleTable& table,
                           const std::vector<std::int32_t>& centre) {
  FreshAllocatorScope scope;
  SideResult result;
  result.domainSizes.reserve(traceCapacity(table));
  const std::int32_t arity = table.arity();
  std::vector<std::int32_t> sizes(static_cast<std::size_t>(arity));
  for (std::int32_t i = 0; i < arity; ++i) sizes[static_cast<std::size_t>(i)] = table.valueCount(i);
  std::vector<varnel::IntVar*> vars(static_cast<std::size_t>(arity));
  const std::int32_t watcher = 0;  // every variable wakes constraint 0, the only one

  PhaseClock clock;
  auto* masks = varnel::newPooled<varnel::SupportMasks>(arity, sizes.data(), table.tupleCount());
  for (std::int32_t t = 0; t < table.tupleCount(); ++t) masks->addTuple(t, table.tuple(t));
  auto* solver = varnel::newPooled<varnel::Solver>();
  for (std::int32_t i = 0; i < arity; ++i) {
    vars[static_cast<std::size_t>(i)] = varnel::newPooled<varnel::IntVar>(*solver, i, sizes[i]);
    vars[static_cast<std::size_t>(i)]->setWatchers(&watcher, 1);
  }
  auto* constraint = varnel::newPooled<varnel::CompactTableRev>(*solver, 0, vars.data(), *masks);
  varnel::CompactTableRev* constraints[] = {constraint};
  {
    varnel::PropagationQueue queue(constraints, 1);
    const bool consistent = constraint->post(queue) && queue.run();
    clock.markBuilt();
    for (std::int32_t i = arity - 1; i >= 0 && consistent; --i) {
      varnel::IntVar& var = *vars[static_cast<std::size_t>(i)];
      for (std::int32_t j = 0; j < sizes[static_cast<std::size_t>(i)]; ++j) {
        if (j == centre[static_cast<std::size_t>(i)] || !var.contains(j)) continue;
        var.remove(j);
        queue.schedule(var);
        queue.run();
        ++result.calls;
        for (varnel::IntVar* x : vars) result.domainSizes.push_back(x->size());
      }
    }
    clock.markEnd(result);
    result.reachedCentre = consistent;
  }
  for (std::int32_t i = 0; i < arity; ++i) {
    const varnel::IntVar& var = *vars[static_cast<std::size_t>(i)];
    result.reachedCentre = result.reachedCentre && var.size() == 1 &&
                           var.contains(centre[static_cast<std::size_t>(i)]);
  }
  varnel::deletePooled(constraint);
  for (varnel::IntVar* x : vars) varnel::deletePooled(x);
  varnel::deletePooled(solver);
  varnel::deletePooled(masks);
  return result;
}

// Where STR2's domain sizes first differ from ours, as "propagation k, variable x: a against b";
// empty when they agree after every propagation.
std::string firstDifference(const std::vector<std::int32_t>& ours,
                            const std::vector<std::int32_t>& str2, std::int32_t arity) {
  const std::size_t common = std::min(ours.size(), str2.size());
  for (std::size_t k = 0; k < common; ++k) {
    if (ours[k] != str2[k]) {
      return "propagation " + std::to_string(k / static_cast<std::size_t>(arity)) + ", variable " +
             std::to_string(k % static_cast<std::size_t>(arity)) + ": " + std::to_string(ours[k]) +
             " against " + std::to_string(str2[k]);
    }
  }
  if (ours.size() != str2.size()) {
    return std::to_string(ours.size() / static_cast<std::size_t>(arity)) +
           " propagations against " + std::to_string(str2.size() / static_cast<std::size_t>(arity));
  }
  return {};
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

std::uint64_t medianOf(const std::vector<std::uint64_t>& values) {
  std::vector<double> copy(values.begin(), values.end());
  return static_cast<std::uint64_t>(median(copy));
}

// Per-side samples of one size.
struct Samples {
  std::vector<double> build, reduce, total;
  std::vector<std::uint64_t> buildFaults, reduceFaults;

  void add(const SideResult& side) {
    build.push_back(side.buildMs);
    reduce.push_back(side.reduceMs);
    total.push_back(side.buildMs + side.reduceMs);
    buildFaults.push_back(side.buildFaults);
    reduceFaults.push_back(side.reduceFaults);
  }
};

// Runs one size `reps` times, the four sides taking turns to go first; false when they disagree.
bool compareOnSize(const Size& size, int reps) {
  // The table exactly as problem 1 builds it: the first draws of a thread's generator, so the
  // sequence starts over for every size.
  varnel::detail::randomState = 1;
  auto* table = varnel::newPooled<varnel::TupleTable>(size.arity, size.numTuples, size.upper);
  table->fillRandom(size.upper);
  const std::int32_t* target = table->tuple(varnel::centreTupleOf(*table));
  const std::vector<std::int32_t> centre(target, target + size.arity);
  const std::vector<std::int32_t> ourSizes = ourDomainSizes(*table, centre);

  Samples oursSamples, gecodeSamples, str2Samples, ctSamples;
  std::vector<double> endToEnd;
  bool agreed = true;
  for (int rep = 0; rep < reps; ++rep) {
    // Rotating the order spreads over the sides whatever the one before leaves behind (a heap
    // that already holds pages, a warmer cache).
    SideResult ours, gecode, str2, ct;
    for (int turn = 0; turn < 4; ++turn) {
      switch ((rep + turn) % 4) {
        case 0:
          ours = runOurs(*table, centre);
          break;
        case 1:
          gecode = runGecode(*table, centre);
          break;
        case 2:
          str2 = runStr2(*table, centre);
          break;
        default:
          ct = runCompactTable(*table, centre);
          break;
      }
    }
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
        "gecode_reduce_ms=%.3f gecode_faults=%llu+%llu calls=%d/%d str2_build_ms=%.3f "
        "str2_reduce_ms=%.3f str2_faults=%llu+%llu str2_calls=%d ours_total_ms=%.3f "
        "gecode_total_ms=%.3f str2_total_ms=%.3f ct_build_ms=%.3f ct_reduce_ms=%.3f "
        "ct_faults=%llu+%llu ct_calls=%d ct_total_ms=%.3f\n",
        size.arity, size.numTuples, size.upper, rep, ours.buildMs, ours.reduceMs,
        static_cast<unsigned long long>(ours.buildFaults),
        static_cast<unsigned long long>(ours.reduceFaults), static_cast<long long>(wholeRun),
        gecode.buildMs, gecode.reduceMs, static_cast<unsigned long long>(gecode.buildFaults),
        static_cast<unsigned long long>(gecode.reduceFaults), ours.calls, gecode.calls,
        str2.buildMs, str2.reduceMs, static_cast<unsigned long long>(str2.buildFaults),
        static_cast<unsigned long long>(str2.reduceFaults), str2.calls,
        ours.buildMs + ours.reduceMs, gecode.buildMs + gecode.reduceMs,
        str2.buildMs + str2.reduceMs, ct.buildMs, ct.reduceMs,
        static_cast<unsigned long long>(ct.buildFaults),
        static_cast<unsigned long long>(ct.reduceFaults), ct.calls, ct.buildMs + ct.reduceMs);
    std::fflush(stdout);
    if (!ours.reachedCentre || !gecode.reachedCentre || !str2.reachedCentre || !ct.reachedCentre ||
        ours.calls != gecode.calls || ours.calls != str2.calls || ours.calls != ct.calls) {
      std::fprintf(stderr,
                   "gecode_table: the sides disagree (arity %d, %d tuples, upper %d): removals "
                   "%d, %d, %d and %d (ours, Gecode, STR2, Compact-Table), centre reached %d, %d, "
                   "%d and %d\n",
                   size.arity, size.numTuples, size.upper, ours.calls, gecode.calls, str2.calls,
                   ct.calls, ours.reachedCentre, gecode.reachedCentre, str2.reachedCentre,
                   ct.reachedCentre);
      agreed = false;
    }
    for (const auto& [name, side] :
         {std::pair<const char*, const SideResult*>{"STR2", &str2}, {"Compact-Table", &ct}}) {
      const std::string difference = firstDifference(ourSizes, side->domainSizes, size.arity);
      if (!difference.empty()) {
        std::fprintf(stderr,
                     "gecode_table: %s's domain sizes differ from ours (arity %d, %d tuples, "
                     "upper %d), %s\n",
                     name, size.arity, size.numTuples, size.upper, difference.c_str());
        agreed = false;
      }
    }
    oursSamples.add(ours);
    gecodeSamples.add(gecode);
    str2Samples.add(str2);
    ctSamples.add(ct);
    endToEnd.push_back(static_cast<double>(wholeRun));
  }
  const double ourTotal = std::max(median(oursSamples.total), 1e-9);
  auto faults = [](const Samples& s) {
    return std::to_string(medianOf(s.buildFaults)) + "+" + std::to_string(medianOf(s.reduceFaults));
  };
  std::printf(
      "median arity=%d tuples=%d upper=%d reps=%d ours_build_ms=%.2f ours_reduce_ms=%.2f "
      "ours_total_ms=%.2f runTableReduction_ms=%.0f gecode_build_ms=%.2f gecode_reduce_ms=%.2f "
      "gecode_total_ms=%.2f gecode_over_ours=%.1f str2_build_ms=%.2f str2_reduce_ms=%.2f "
      "str2_total_ms=%.2f str2_over_ours=%.2f ours_faults=%s gecode_faults=%s str2_faults=%s "
      "ct_build_ms=%.2f ct_reduce_ms=%.2f ct_total_ms=%.2f ct_faults=%s str2_over_ct=%.2f\n",
      size.arity, size.numTuples, size.upper, reps, median(oursSamples.build),
      median(oursSamples.reduce), median(oursSamples.total), median(endToEnd),
      median(gecodeSamples.build), median(gecodeSamples.reduce), median(gecodeSamples.total),
      median(gecodeSamples.total) / ourTotal, median(str2Samples.build), median(str2Samples.reduce),
      median(str2Samples.total), median(str2Samples.total) / ourTotal, faults(oursSamples).c_str(),
      faults(gecodeSamples).c_str(), faults(str2Samples).c_str(), median(ctSamples.build),
      median(ctSamples.reduce), median(ctSamples.total), faults(ctSamples).c_str(),
      median(str2Samples.total) / std::max(median(ctSamples.total), 1e-9));
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
