% TULM_computeLocalFoldPenalty  Fold penalty around a list of vertices, and the vertices involved.
%
%   [P, L] = TULM_computeLocalFoldPenalty(vertices, faces, VertexFaces, visit, offset)
%
%   P and L of TULM_computeLocalFoldPenaltyGrad, without the gradient: the sum of
%   (signed area + offset) over the flipped faces around the visited vertices, each face
%   counted once, and the corners of those faces.
%
%   Inputs
%     vertices     single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces        int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces  int32, K x V: column v lists the 1-based faces around vertex v (in 1..F),
%                  padded with 0; the first entry below 1 ends a column.
%     visit        int32 column M x 1: 1-based vertices to visit, each in 1..V. Only the first
%                  column is read. An empty list ([] or any empty array) visits every vertex.
%     offset       numeric scalar (any class): added to the area of every flipped face;
%                  rounded to single.
%
%   Outputs
%     P            single 1 x 1, accumulated in order of discovery.
%     L            int32 nL x 1: the corners v0, v1, v2 of each flipped face found, each vertex
%                  once, in order of discovery; 0 x 1 when no face is flipped.
%
%   The faces-of-vertex table comes from TULM_convertFaces2FacesOfVert in row form, flattened;
%   reshape and transpose it:
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%
%   Errors
%     "Vertices should be 3 dimensional", "Faces should have three vertices",
%     "Vertices and VertexFaces should be the same number!", "Memory allocation error!"
%     "Five inputs required: vertices, faces, VertexFaces, visit, offset"
%     "visit holds 0 at (2, 1), outside 1..4", "VertexFaces holds 12 at (3, 7), outside 0..10",
%     ...
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);
%     [P, L] = TULM_computeLocalFoldPenalty(vertices, int32([1; 2; 3]), int32([1 1 1]), [], 1)
%
%   See also TULM_computeLocalFoldPenaltyGrad, TULM_computeFoldPenalty.
