// The system-heap build: library blocks come from malloc in every translation unit (the test's
// inline calls and the library's compiled ones alike), the pools take no chunk, the library
// still computes the same results, and varnel-bench-heap prints the same report as varnel-bench.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "varnel/memory/allocator.h"
#include "varnel/memory/arrays.h"
#include "varnel/memory/pooled.h"
#include "varnel/table/gac4r_table_ct.h"
#include "varnel/table/table_reduction.h"
#include "varnel/table/tuple_table.h"

namespace {

using varnel::currentAllocator;
using varnel::memoryConsumption;

std::uint32_t chunksHeld(const varnel::varnel_allocator* allocator) {
  std::uint32_t chunks = 0;
  for (unsigned c = 0; c < varnel::kSizeClassCount; ++c) chunks += allocator->pools[c]->chunkCount;
  return chunks;
}

TEST(SystemHeap, BlocksOfEveryKindOfClassAreWholeAndLeaveThePoolsEmpty) {
  const std::uint64_t before = memoryConsumption(currentAllocator());
  const std::uint32_t chunksBefore = chunksHeld(currentAllocator());
  // Small classes, the first power-of-two class, and one that takes a whole chunk per block.
  for (const unsigned c : {0u, 5u, 15u, 16u, 24u, 25u}) {
    std::vector<void*> blocks;
    for (int k = 0; k < 3; ++k) {
      void* block = varnel::allocateBlock(c);
      ASSERT_NE(block, nullptr) << "class " << c << " gave no block";
      // The whole block must be usable: a heap block sized by the request, not the class,
      // would be overrun here (and caught by the allocator's own checks or a sanitizer).
      std::memset(block, 0xA5, varnel::blockBytesOf(c));
      blocks.push_back(block);
    }
    EXPECT_NE(blocks[0], blocks[1]) << "two live blocks of class " << c << " share an address";
    for (void* block : blocks) varnel::freeBlock(block, c);
    EXPECT_EQ(currentAllocator()->pools[c]->freeCount, 0u)
        << "class " << c << ": a freed heap block went onto the pool's free list";
  }
  EXPECT_EQ(chunksHeld(currentAllocator()), chunksBefore)
      << "the pools took chunks although every block should come from the heap";
  EXPECT_EQ(memoryConsumption(currentAllocator()), before)
      << "memoryConsumption changed although the pools took nothing";
}

TEST(SystemHeap, LibraryCodeCompiledSeparatelyAlsoTakesItsBlocksFromTheHeap) {
  // The table's constructor and filling run in the library's own object files: if the build
  // switch reached only this file, they would fill the pools and the two halves would free each
  // other's blocks.
  const std::uint32_t chunksBefore = chunksHeld(currentAllocator());
  auto* table = varnel::newPooled<varnel::TupleTable>(6, 3000, 7);
  table->fillRandom(7);
  EXPECT_EQ(chunksHeld(currentAllocator()), chunksBefore)
      << "building a table in the system-heap build took pool chunks";
  varnel::deletePooled(table);
}

// Brute force: the values of each variable that still occur in some tuple all of whose values
// are in the current domains, iterated to a fixpoint.
std::vector<std::vector<bool>> supportedClosure(const varnel::TupleTable& table,
                                                std::vector<std::vector<bool>> domains) {
  const std::int32_t arity = table.arity();
  for (bool changed = true; changed;) {
    changed = false;
    std::vector<std::vector<bool>> supported(static_cast<std::size_t>(arity));
    for (std::int32_t i = 0; i < arity; ++i) supported[i].assign(domains[i].size(), false);
    for (std::int32_t t = 0; t < table.tupleCount(); ++t) {
      const std::int32_t* tuple = table.tuple(t);
      bool valid = true;
      for (std::int32_t i = 0; i < arity && valid; ++i) valid = domains[i][tuple[i]];
      if (!valid) continue;
      for (std::int32_t i = 0; i < arity; ++i) supported[i][tuple[i]] = true;
    }
    for (std::int32_t i = 0; i < arity; ++i) {
      for (std::size_t v = 0; v < domains[i].size(); ++v) {
        if (domains[i][v] && !supported[i][v]) {
          domains[i][v] = false;
          changed = true;
        }
      }
    }
  }
  return domains;
}

TEST(SystemHeap, TableConstraintPropagatesAsWithThePools) {
  auto* table = varnel::newPooled<varnel::TupleTable>(5, 400, 6);
  table->fillRandom(6);
  auto* constraint = varnel::newPooled<varnel::GAC4RTableCt>(*table);
  constraint->initSupports();
  constraint->pruneUnsupported();
  std::vector<std::vector<bool>> model(5);
  for (std::int32_t i = 0; i < 5; ++i) model[i].assign(table->valueCount(i), true);
  const std::int32_t* centre = table->tuple(varnel::centreTupleOf(*table));
  for (std::int32_t i = 4; i >= 0; --i) {
    for (std::int32_t j = 0; j < table->valueCount(i); ++j) {
      if (j == centre[i] || !constraint->domain(i).contains(j)) continue;
      constraint->removeValue(i, j);
      constraint->propagate();
      model[i][j] = false;
      model = supportedClosure(*table, model);
      for (std::int32_t x = 0; x < 5; ++x) {
        for (std::int32_t v = 0; v < table->valueCount(x); ++v) {
          ASSERT_EQ(constraint->domain(x).contains(v), static_cast<bool>(model[x][v]))
              << "after removing value " << j << " of variable " << i << ": value " << v
              << " of variable " << x << " disagrees with the brute-force closure";
        }
      }
      ASSERT_EQ(constraint->audit(), "") << "invariants broken after removing " << i << "=" << j;
    }
  }
  for (std::int32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(constraint->domain(i).size(), 1) << "variable " << i << " did not end at one value";
    EXPECT_TRUE(constraint->domain(i).contains(centre[i]))
        << "variable " << i << " lost the centre's value";
  }
  varnel::deletePooled(constraint);
  varnel::deletePooled(table);
}

struct ProgramRun {
  int exitCode = -1;
  std::vector<std::string> lines;
};

ProgramRun runProgram(const std::string& path, const std::string& arguments) {
  std::random_device device;
  const std::string out = ::testing::TempDir() + "varnel_heap_" + std::to_string(device());
  const std::string command = "\"" + path + "\" " + arguments + " >\"" + out + "\" 2>&1";
  ProgramRun run;
  const int status = std::system(command.c_str());
  run.exitCode = status == -1 ? -1 : (status >> 8) & 0xFF;
  std::ifstream file(out);
  for (std::string line; std::getline(file, line);) run.lines.push_back(line);
  std::remove(out.c_str());
  return run;
}

// Lines that carry a measured time, or the pools' consumption, differ between the two builds.
bool comparable(const std::string& line) {
  for (const char* label : {"time", "moyenne", "ratio ", "power", "Memory Consumption"}) {
    if (line.find(label) != std::string::npos) return false;
  }
  return true;
}

TEST(SystemHeap, DriverPrintsThePoolDriversReportLineForLine) {
  for (const std::string arguments : {"1 2 0 6 2000 5", "1 1 0 10 500 10"}) {
    const ProgramRun pools = runProgram(VARNEL_BENCH_PATH, arguments);
    const ProgramRun heap = runProgram(VARNEL_BENCH_HEAP_PATH, arguments);
    ASSERT_EQ(pools.exitCode, 0) << "varnel-bench " << arguments << " failed";
    ASSERT_EQ(heap.exitCode, 0) << "varnel-bench-heap " << arguments << " failed";
    ASSERT_EQ(heap.lines.size(), pools.lines.size())
        << "the two builds print different numbers of lines for " << arguments;
    for (std::size_t k = 0; k < pools.lines.size(); ++k) {
      if (!comparable(pools.lines[k])) {
        EXPECT_EQ(heap.lines[k].substr(0, 8), pools.lines[k].substr(0, 8))
            << "line " << k << " has another label in the heap build";
        continue;
      }
      EXPECT_EQ(heap.lines[k], pools.lines[k]) << "line " << k << " of " << arguments;
    }
    {
      // The main thread's pools never take a chunk: only the 46 initial 8-entry chunk tables
      // are counted, 46 x 8 x 8 bytes.
      bool found = false;
      for (const std::string& line : heap.lines) {
        if (line.rfind("Memory Consumption: ", 0) != 0) continue;
        found = true;
        EXPECT_EQ(line, "Memory Consumption: 2944 bytes")
            << "the heap build's consumption line should count the chunk tables only";
      }
      EXPECT_TRUE(found) << "no Memory Consumption line in the heap build's problem 1 report";
    }
  }
}

}  // namespace
