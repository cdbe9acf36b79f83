% TULM_convertFaces2FacesOfVert  Faces-of-vertex table of a triangle mesh.
%
%   vertexFaces = TULM_convertFaces2FacesOfVert(faces, numVerts)
%
%   Lists, for every vertex, the faces that have it as a corner.
%
%   Inputs
%     faces     int32, F x 3 (row form): 1-based corners of each triangle. Only the first
%               three columns are read; every corner must lie in 1..numVerts.
%     numVerts  int32 scalar: the number of vertices V.
%
%   Output
%     vertexFaces  int32, (V*K) x 1: the V x K table in row form, flattened. Row v lists the
%               1-based faces around vertex v in ascending order, padded with 0. K is the
%               largest number of face corners naming one vertex; a face that names a vertex
%               twice is listed twice.
%
%   The fold penalties and TULM_findFaceAux take the table in column form, K x V:
%     VertexFaces = reshape(vertexFaces, V, []).';
%
%   Errors
%     "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32"
%     "Too many output arguments"
%     "This should not happen!!" (an internal consistency guard)
%     "faces must be an int32 matrix (got double)", "faces holds 9 at (2, 3), outside 1..4", ...
%
%   Example
%     faces = int32([1 2 3; 1 3 4; 1 4 2; 2 4 3]);            % a tetrahedron
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces, int32(4)), 4, []).'
%
%   See also TULM_convertFaces2VertNbors, TULM_computeFoldPenaltyGrad, TULM_findFaceAux.
