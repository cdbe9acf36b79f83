% TULM_findNeighborhoodGivenRadius  Vertices within a number of edges of a vertex.
%
%   verts = TULM_findNeighborhoodGivenRadius(maxNeighbors, numVerts, vertex, radius, vertexNbors)
%
%   Lists every vertex that can be reached from `vertex` in at most `radius` steps along
%   mesh edges (its ring neighbourhood), the vertex itself included.
%
%   Inputs
%     maxNeighbors  int32 scalar K, the slots per vertex.
%     numVerts      int32 scalar V.
%     vertex        int32 scalar: the 1-based centre, in 1..V.
%     radius        int32 scalar: the number of rings; 0 or negative gives the centre alone.
%     vertexNbors   int32, K x V (column form): column v lists the 1-based neighbours of
%                   vertex v; 0 marks an empty slot, which may sit anywhere in the column.
%                   From TULM_convertFaces2VertNbors: vertexNbors = reshape(nbrs, V, []).';
%
%   Output
%     verts         int32, 1 x N: the 1-based vertices of the neighbourhood, ascending.
%                   With numVerts below 1 it is 1 x 0, whatever the centre.
%
%   Errors
%     "Five inputs required. maxNeighbors (int32), numVerts (int32), vertex (int32), radius (int32), vertexNbors (int *)"
%     "Too many output arguments"
%     "vertex holds 13 at (1, 1), outside 1..12",
%     "vertexNbors must be at least 6 x 12 (got 12 x 6)", "vertexNbors holds 13 at (2, 5), outside 0..12", ...
%
%   Example
%     [vertices, faces] = tulm_icosphere(2);
%     V = int32(size(vertices, 2));
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     K = int32(size(vertexNbors, 1));
%     ring2 = TULM_findNeighborhoodGivenRadius(K, V, int32(1), int32(2), vertexNbors)
%
%   See also TULM_convertFaces2VertNbors.
