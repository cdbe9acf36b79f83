#ifndef TULM_CORE_CONNECTIVITY_TULM_FINDNEIGHBORHOODGIVENRADIUS_H
#define TULM_CORE_CONNECTIVITY_TULM_FINDNEIGHBORHOODGIVENRADIUS_H

#include <cstdint>
#include <functional>

namespace tulm {

// The vertices within `radius` edges of a centre vertex, the centre included.
//
// Inputs:
//   maxNeighbors  K; 0 or negative means no slots
//   numVerts      V; 0 or negative gives an empty result
//   vertex        1-based centre
//   radius        R; 0 or negative gives the centre alone
//   vertexNbors   K x V int32, column form, 1-based neighbours, 0 = empty slot
//   createOutput  called once with N; returns storage for N int32
// Output:
//   the N vertices of the neighbourhood, 1-based, ascending.
// Known quirks:
//   Empty slots may sit anywhere in a column: every slot is read. With V below 1 the result
//   is empty whatever the centre. The expansion stops early once a ring adds nothing, which
//   gives the same result as running all R steps. Ends the call on a centre outside 1..V or
//   on an entry outside 0..V in the column of a vertex it expands.
void FindNeighborhoodGivenRadiusAux(int32_t maxNeighbors, int32_t numVerts, int32_t vertex,
                                    int32_t radius, const int32_t* vertexNbors,
                                    const std::function<int32_t*(int32_t N)>& createOutput);

// One breadth-first step: every neighbour of a vertex whose current mark is 1 gets next mark
// 1, then the next marks are copied over the current ones. Vertices marked during the step
// are expanded only by the following one, so step r adds exactly ring r. Returns the number
// of vertices the step added.
int32_t Find1NeighborhoodGivenRadiusAux(int32_t maxNeighbors, int32_t numVerts,
                                        const int32_t* vertexNbors, int32_t* currentMarks,
                                        int32_t* nextMarks);

}  // namespace tulm

#endif  // TULM_CORE_CONNECTIVITY_TULM_FINDNEIGHBORHOODGIVENRADIUS_H
