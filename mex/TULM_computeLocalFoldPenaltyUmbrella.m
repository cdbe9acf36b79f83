% TULM_computeLocalFoldPenaltyUmbrella  Local fold penalty with umbrella vectors of its vertices.
%
%   [P, U, L] = TULM_computeLocalFoldPenaltyUmbrella(vertices, faces, VertexFaces, ...
%                                                    vertexNbors, visit, offset)
%
%   P and L of TULM_computeLocalFoldPenaltyGrad, and instead of the gradient the umbrella
%   vector of every involved vertex: its position minus the mean position of its neighbours,
%   the direction a Laplacian smoothing step would move it back along.
%
%   Inputs
%     vertices     single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces        int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces  int32, K x V: column v lists the 1-based faces around vertex v (in 1..F),
%                  padded with 0; the first entry below 1 ends a column.
%     vertexNbors  int32, K_N x V: column v lists the 1-based neighbours of v (in 1..V), padded
%                  with 0; the first entry below 1 ends a column. Only the columns of involved
%                  vertices are read.
%     visit        int32 column M x 1: 1-based vertices to visit, each in 1..V. Only the first
%                  column is read. An empty list ([] or any empty array) visits every vertex.
%     offset       numeric scalar (any class): added to the area of every flipped face;
%                  rounded to single.
%
%   Outputs
%     P            single 1 x 1, accumulated in order of discovery.
%     U            single 3 x V: umbrella vectors of the vertices in L, 0 elsewhere. NaN in all
%                  three components for a vertex without neighbours (a neighbour column that
%                  begins with 0, or a table with no rows).
%     L            int32 nL x 1: the corners v0, v1, v2 of each flipped face found, each vertex
%                  once, in order of discovery; 0 x 1 when no face is flipped.
%
%   Both tables come from the builders in row form, flattened; reshape and transpose them:
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%
%   Errors
%     "Vertices should be 3 dimensional", "Faces should have three vertices",
%     "Vertices and VertexFaces should be the same number!", "Memory allocation error!"
%     "Wrong number of inputs!" (anything but six inputs)
%     "vertexNbors holds 12 at (3, 7), outside 0..10",
%     "vertexNbors must be at least 6 x 12 (got 6 x 10)", "visit holds 0 at (2, 1), outside 1..4"
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);
%     [P, U, L] = TULM_computeLocalFoldPenaltyUmbrella(vertices, int32([1; 2; 3]), ...
%                     int32([1 1 1]), int32([2 1 1; 3 3 2]), int32(1), 1)
%
%   See also TULM_computeLocalFoldPenaltyGrad, TULM_convertFaces2VertNbors.
