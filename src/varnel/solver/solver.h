// The solver: root object of the library. It owns the trail, the allocation log and the
// restoration-point counters; reversible containers are built with a reference to it.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "varnel/memory/pooled.h"
#include "varnel/solver/allocation_log.h"
#include "varnel/solver/reversible.h"
#include "varnel/solver/trail.h"

namespace varnel {

class SolverState;

class Solver : public Reversible {
 public:
  // A solver with no open restoration point and its internal state freshly built.
  Solver();
  // Pops every open point, then releases everything the solver owns.
  ~Solver() override;

  // Opens a restoration point: timestamp + 1, pushPopCount + 1.
  void pushRestorationPoint();
  // Undoes everything since the matching push (trail first, then the allocation log) and closes
  // the point. Precondition: a point is open.
  void popRestorationPoint();
  // Pops until no point is open.
  void popAllRestorationPoints();
  // Pops every open point, then empties the trail, the log and the state without releasing or
  // allocating memory. timestamp keeps growing across clears.
  void clear();

  // Constructs a T in a pooled block and logs it: popping the current restoration point
  // destroys it and returns its block. With no point open it lives until the solver is cleared
  // or destroyed, and is then forgotten, not destroyed.
  template <class T, class... Args>
  T* newLogged(Args&&... args);

  // Number of open restoration points.
  std::uint64_t depth() const { return 2 * timestamp - pushPopCount; }

  Trail* trail;                   // the undo log, a pooled object
  SolverState* state;             // internal structures, a pooled object
  AllocationLog** allocationLog;  // a one-word pooled handle holding the log's address
  std::uint64_t pushPopCount;     // pushes plus pops
  std::uint64_t timestamp;        // pushes since construction; never decreases
};

// Shared save of reversible objects: snapshot, then one object entry on the trail.
template <class T>
void saveObject(T& object, Solver& solver);

// Records a 32-bit field on the solver's trail when `stamp` is below the timestamp, and moves the
// stamp up: a field recorded at most once per restoration point (the caller then writes it).
void recordIntOnce(Solver& solver, std::int32_t* field, std::uint64_t* stamp);

// Shared saveOnce: saves the object when its stamp is below the solver's timestamp and moves the
// stamp up, so an object is recorded at most once per restoration point.
template <class T>
void saveObjectOnce(T& object, std::uint64_t& stamp, Solver& solver);

// --- Inline definitions ------------------------------------------------------------------

inline void Solver::pushRestorationPoint() {
  ++timestamp;
  ++pushPopCount;
  (*allocationLog)->pushMark();
  trail->pushMark();
}

inline void Solver::popRestorationPoint() {
  VARNEL_ASSERT(2 * timestamp > pushPopCount);
  ++pushPopCount;
  trail->undoToMark();
  (*allocationLog)->releaseToMark();
}

inline void Solver::popAllRestorationPoints() {
  while (pushPopCount != 2 * timestamp) popRestorationPoint();
}

template <class T, class... Args>
T* Solver::newLogged(Args&&... args) {
  T* object = newPooled<T>(std::forward<Args>(args)...);
  (*allocationLog)->append(object, static_cast<std::int32_t>(sizeof(T)));
  return object;
}

inline void recordIntOnce(Solver& solver, std::int32_t* field, std::uint64_t* stamp) {
  if (*stamp < solver.timestamp) {
    *stamp = solver.timestamp;
    solver.trail->recordInt(field);
  }
}

template <class T>
void saveObject(T& object, Solver& solver) {
  object.snapshot();
  solver.trail->recordObject(&object);
}

template <class T>
void saveObjectOnce(T& object, std::uint64_t& stamp, Solver& solver) {
  if (stamp < solver.timestamp) {
    stamp = solver.timestamp;
    object.snapshot();
    solver.trail->recordObject(&object);
  }
}

}  // namespace varnel
