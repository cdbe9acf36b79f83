% TULM_computeLocalFoldPenaltyGrad  Fold penalty and gradient around a list of vertices.
%
%   [P, G, L] = TULM_computeLocalFoldPenaltyGrad(vertices, faces, VertexFaces, visit, offset)
%
%   The penalty of TULM_computeFoldPenaltyGrad, restricted to the faces around the visited
%   vertices, at a cost that follows that neighbourhood rather than the mesh. Each face is
%   evaluated and counted once however many visited vertices share it. L lists the corners of
%   the flipped faces found; pass it back as the next visit list to follow a fold as it moves.
%
%   Inputs
%     vertices     single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces        int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces  int32, K x V: column v lists the 1-based faces around vertex v (in 1..F),
%                  padded with 0; the first entry below 1 ends a column.
%     visit        int32 column M x 1: 1-based vertices to visit, each in 1..V; repeats are
%                  harmless. Only the first column is read (a 1 x n row uses its first entry).
%                  An empty list ([] or any empty array) visits every vertex.
%     offset       numeric scalar (any class): added to the area of every flipped face;
%                  rounded to single.
%
%   Outputs
%     P            single 1 x 1: sum of (signed area + offset) over the flipped faces found,
%                  in order of discovery (so it can differ from the full penalty in the last
%                  bits even when every vertex is visited).
%     G            single 3 x V: for each vertex in L, the gradient of P (the area gradients of
%                  the flipped faces that P counted and its VertexFaces column lists); 0
%                  elsewhere.
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
%     "visit must be an int32 matrix (got double)", "visit holds 0 at (2, 1), outside 1..4",
%     "faces holds 9 at (2, 5), outside 1..4", "VertexFaces holds 12 at (3, 7), outside 0..10"
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);
%     [P, G, L] = TULM_computeLocalFoldPenaltyGrad(vertices, int32([1; 2; 3]), ...
%                                                  int32([1 1 1]), int32(1), 1)
%
%   See also TULM_computeLocalFoldPenalty, TULM_computeLocalFoldPenaltyUmbrella,
%   TULM_computeFoldPenaltyGrad.
