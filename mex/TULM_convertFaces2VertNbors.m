% TULM_convertFaces2VertNbors  Neighbour table of a triangle mesh.
%
%   nbrs = TULM_convertFaces2VertNbors(faces, numVerts)
%
%   Lists, for every vertex, the vertices that share an edge with it.
%
%   Inputs
%     faces     int32, F x 3 (row form): 1-based corners of each triangle. Only the first
%               three columns are read; every corner must lie in 1..numVerts.
%     numVerts  int32 scalar: the number of vertices V.
%
%   Output
%     nbrs      int32, (V*K) x 1: the V x K table in row form, flattened. Row v lists the
%               1-based neighbours of vertex v in the order their shared edge is first met
%               (faces in order; within a face the corner pairs 1-2, 1-3, 2-3), padded with 0.
%               K is the largest number of faces around a vertex (on an open mesh, the
%               largest neighbour count if that is larger). No vertex is its own neighbour.
%
%   The other functions of the toolbox take the table in column form, K x V:
%     vertexNbors = reshape(nbrs, V, []).';
%
%   Errors
%     "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32"
%     "Too many output arguments"
%     "faces must be an int32 matrix (got double)", "faces holds 9 at (2, 3), outside 1..4", ...
%
%   Example
%     faces = int32([1 2 3; 1 3 4; 1 4 2; 2 4 3]);            % a tetrahedron
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces, int32(4)), 4, []).'
%
%   See also TULM_convertFaces2FacesOfVert, TULM_findNeighborhoodGivenRadius.
