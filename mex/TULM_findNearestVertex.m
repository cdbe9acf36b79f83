% TULM_findNearestVertex  A mesh vertex near each point, by greedy descent from a seed.
%
%   [vertexIdx, distance] = TULM_findNearestVertex(points, vertices, vertexNbors, seedVertices)
%
%   For each query point, descends from its seed over the neighbour table, always to the
%   neighbour nearest to the point while it is strictly nearer than the current vertex. The
%   vertex where the descent stops is accepted when its squared distance is below
%   (0.1 R)^2 * sqrt(163842/V), R being the length of the first vertex; otherwise the descent
%   starts again from a random vertex, up to V times, and then the best vertex reached by a
%   descent move is returned. The mesh should be centred at the origin.
%
%   Inputs
%     points        single, 3 x N: one query point per column.
%     vertices      single, 3 x V: one vertex per column.
%     vertexNbors   int32, Kn x V: 1-based neighbours of each vertex, padded with 0; from the
%                   table builder as reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).'
%     seedVertices  int32, 1 x N: 1-based start vertex of each point. A value below 1 starts
%                   from the previous point's result (from vertex 1 for the first point).
%
%   Outputs
%     vertexIdx  int32, 1 x N: 1-based vertex found for each point.
%     distance   single, 1 x N: its distance to the point.
%
%   The random restarts use the C runtime's generator, re-seeded from the clock (in whole
%   seconds) at every point, so results that needed restarts can change from run to run. A
%   point accepted after 100 or more restarts prints
%     "RANDOM: vertex <i> (matlab index), rand_count: <n>"
%   and a point that finds nothing within the limit after V restarts prints
%     "Problem vertex (matlab index): <i>, rand_count: <n>, bestSeed: <b>, best_distance: <d>"
%   (bestSeed 0-based). If no descent move happened at all, its result is vertex 0 with
%   distance 316.22775.
%
%   Cost: a point far from the mesh, which no descent brings within the acceptance distance,
%   makes all V random restarts before it gives up, each one a descent over the mesh. For
%   example 100,000 points at radius 2 around a unit mesh of 100,000 vertices run for hours.
%   Keep the points near the mesh; for points that may lie far from it, a k-d tree over the
%   vertices (nearestIndexSearch) gives the nearest vertex without restarts.
%
%   Errors
%     "Four inputs required: points, vertices, vertexNbors, seedVertices (got 3)"
%     "Point should be three dimensional!"
%     "Inconsistent number of vertices!"
%     "Number of poitns should be the same as # of seedVertices!"
%     "points must be a single matrix (got double)", "vertices must have 3 rows (got 4 x 642)",
%     "seedVertices holds 700 at (1, 2), outside 1..642", ...
%
%   Example
%     [vertices, faces] = tulm_icosphere(3);                  % from the toolbox's examples
%     V = int32(size(vertices, 2));
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     [v, d] = TULM_findNearestVertex(single([0.6; 0.48; 0.64]), vertices, vertexNbors, int32(1))
%
%   See also TULM_findFaceAux, TULM_convertFaces2VertNbors, nearestIndexSearch.
