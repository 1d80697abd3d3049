// Construction of Graph.
#include "varnel/solver/graph.h"

namespace varnel {

Graph::Graph() : edgeSet_(kEdgeIdCount), nodeSet_(kNodeCount) {}

}  // namespace varnel
