// Reversible: the root of every library object. Reversible classes record their changes on a
// solver's trail so that a popped restoration point can take them back.
#pragma once

namespace varnel {

class Solver;

class Reversible {
 public:
  virtual ~Reversible() = default;
  // Unconditional save: snapshot(), then one object entry on the solver's trail.
  virtual void save(Solver&) {}
  // Save only if not yet saved since the solver's last push (compares `stamp` with `timestamp`).
  virtual void saveOnce(Solver&) {}
  // Called by the trail when a pop reaches this object's entry: back to the snapshotted state.
  virtual void restore() {}
  // Records the saved fields that restore() uses (as int entries), then saves the current state.
  virtual void snapshot() {}

  Reversible() = default;
  Reversible(const Reversible&) = delete;
  Reversible& operator=(const Reversible&) = delete;
};

}  // namespace varnel
