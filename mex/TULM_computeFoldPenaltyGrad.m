% TULM_computeFoldPenaltyGrad  Penalty of the flipped faces of a mesh, with its gradient.
%
%   [P, G] = TULM_computeFoldPenaltyGrad(vertices, faces, VertexFaces, offset)
%
%   A face is flipped when its normal (v1 - v0) x (v2 - v0) points away from the origin. Its
%   signed area is then positive; a face counts when that area exceeds 1e-7 (single). P is
%   the sum of (signed area + offset) over the flipped faces; G is the derivative of P with
%   respect to every vertex position, so stepping the vertices against G unfolds the mesh.
%
%   Inputs
%     vertices     single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces        int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces  int32, K x V: column v lists the 1-based faces around vertex v (in 1..F),
%                  padded with 0; the first entry below 1 ends a column.
%     offset       numeric scalar (any class): added to the area of every flipped face;
%                  rounded to single.
%
%   Outputs
%     P            single 1 x 1.
%     G            single 3 x V: column v sums the area gradients of the flipped faces that
%                  column v of VertexFaces lists (a face listed twice counts twice). Flipped
%                  faces with an area below 1e-7 count in P but add no gradient.
%
%   The faces-of-vertex table comes from TULM_convertFaces2FacesOfVert in row form, flattened;
%   reshape and transpose it:
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%
%   Errors
%     "Vertices should be 3 dimensional", "Faces should have three vertices",
%     "Vertices and VertexFaces should be the same number!", "Memory allocation error!"
%     "Four inputs required: vertices, faces, VertexFaces, offset"
%     "vertices must be a single matrix (got double)", "faces holds 9 at (2, 5), outside 1..4",
%     "VertexFaces holds 12 at (3, 7), outside 0..10", ...
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);      % one face whose normal points outward
%     [P, G] = TULM_computeFoldPenaltyGrad(vertices, int32([1; 2; 3]), int32([1 1 1]), 1)
%
%   See also TULM_computeFoldPenalty, TULM_computeLocalFoldPenaltyGrad,
%   TULM_computeAreaChangePenaltyGrad.
