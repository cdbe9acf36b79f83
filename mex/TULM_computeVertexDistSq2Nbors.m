% TULM_computeVertexDistSq2Nbors  Squared distance from every vertex to each of its neighbours.
%
%   distSq = TULM_computeVertexDistSq2Nbors(maxNeighbors, numVerts, vertexNbors, vertices)
%
%   Evaluates (dx*dx + dy*dy) + dz*dz in single precision for every slot of the neighbour
%   table, where d is the vertex minus its neighbour. The result has the table's layout.
%
%   Inputs
%     maxNeighbors  int32 scalar K, the slots per vertex, at least 0.
%     numVerts      int32 scalar V, at least 0.
%     vertexNbors   int32, K x V (column form): column v lists the 1-based neighbours of
%                   vertex v; 0 marks an empty slot, which may sit anywhere in the column.
%                   TULM_convertFaces2VertNbors returns the table flattened in row form;
%                   reshape and transpose it: vertexNbors = reshape(nbrs, V, []).';
%     vertices      single, 3 x V (column form).
%
%   Output
%     distSq        single, K x V: element (k, v) belongs to slot k of vertex v; empty
%                   slots give 0. The distances are squared.
%
%   Errors
%     "4 inputs required: maxNeighbors (int 32), numVerts (int 32), vertexNbors (int 32 *), vertices (float *)"
%     "Too many output arguments"
%     "numVerts must not be negative (got -1)", "vertexNbors must be at least 6 x 12 (got 12 x 6)",
%     "vertexNbors holds 13 at (2, 5), outside 0..12", ...
%
%   Example
%     [vertices, faces] = tulm_icosphere(2);
%     V = int32(size(vertices, 2));
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     distSq = TULM_computeVertexDistSq2Nbors(int32(size(vertexNbors, 1)), V, vertexNbors, vertices);
%     mean(sqrt(distSq(vertexNbors > 0)))           % mean edge length
%
%   See also TULM_computeDiffDataVertex2Nbors, TULM_convertFaces2VertNbors.
