% TULM_computeDiffDataVertex2Nbors  Differences of per-vertex data along neighbour links.
%
%   diffs = TULM_computeDiffDataVertex2Nbors(maxNeighbors, numVerts, numData, vertexNbors, data)
%
%   For every slot of the neighbour table, the vertex's own data vector minus its
%   neighbour's, in single precision.
%
%   Inputs
%     maxNeighbors  int32 scalar K, the slots per vertex, at least 0.
%     numVerts      int32 scalar V, at least 0.
%     numData       int32 scalar D, the values per vertex, at least 0.
%     vertexNbors   int32, K x V (column form): column v lists the 1-based neighbours of
%                   vertex v; 0 marks an empty slot, which may sit anywhere in the column.
%                   From TULM_convertFaces2VertNbors: vertexNbors = reshape(nbrs, V, []).';
%     data          single, D x V: one column of D values per vertex.
%
%   Output
%     diffs         single, D x K x V: diffs(d, k, v) = data(d, v) - data(d, n) for the
%                   neighbour n in slot k of vertex v; empty slots give D zeros.
%
%   Errors
%     "5 inputs required: maxNeighbors (int 32), numVerts (int 32), numData (int 32), vertexNbors (int 32 *), data (float *)"
%     "Too many output arguments"
%     "numData must not be negative (got -1)", "data must be at least 3 x 12 (got 1 x 12)",
%     "vertexNbors holds 13 at (2, 5), outside 0..12",
%     "the data differences would have 3000000000 entries, more than 2147483647", ...
%
%   Example
%     vertexNbors = int32([2 0; 1 0].');             % two vertices, each the other's neighbour
%     data = single([1 10; 4 30].');                 % D = 2
%     diffs = TULM_computeDiffDataVertex2Nbors(int32(2), int32(2), int32(2), vertexNbors, data);
%     squeeze(diffs(:, 1, :))                        % [-3 3; -20 20]
%
%   See also TULM_computeVertexDistSq2Nbors, TULM_convertFaces2VertNbors.
