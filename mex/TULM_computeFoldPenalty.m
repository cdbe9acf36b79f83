% TULM_computeFoldPenalty  Penalty of the flipped faces of a mesh.
%
%   P = TULM_computeFoldPenalty(vertices, faces, VertexFaces, offset)
%
%   The penalty of TULM_computeFoldPenaltyGrad without the gradient: the sum of
%   (signed area + offset) over the faces whose normal (v1 - v0) x (v2 - v0) points away from
%   the origin and whose signed area exceeds 1e-7 (single).
%
%   Inputs
%     vertices     single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces        int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces  int32, K x V: the faces-of-vertex table; only its column count is used
%                  (it must be V).
%     offset       numeric scalar (any class): added to the area of every flipped face;
%                  rounded to single.
%
%   Output
%     P            single 1 x 1.
%
%   The faces-of-vertex table comes from TULM_convertFaces2FacesOfVert in row form, flattened;
%   reshape and transpose it:
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%
%   Errors
%     "Vertices should be 3 dimensional", "Faces should have three vertices",
%     "Vertices and VertexFaces should be the same number!", "Memory allocation error!"
%     "Four inputs required: vertices, faces, VertexFaces, offset"
%     "vertices must be a single matrix (got double)", "faces holds 9 at (2, 5), outside 1..4", ...
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);
%     P = TULM_computeFoldPenalty(vertices, int32([1; 2; 3]), int32([1 1 1]), 0)   % its area
%
%   See also TULM_computeFoldPenaltyGrad, TULM_computeLocalFoldPenalty.
