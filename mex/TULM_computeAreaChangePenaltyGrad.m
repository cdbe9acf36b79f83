% TULM_computeAreaChangePenaltyGrad  Squared change of signed face areas, with its gradient.
%
%   [P, G] = TULM_computeAreaChangePenaltyGrad(vertices, faces, VertexFaces, originalAreas)
%
%   P is the sum over all faces of (s_f - o_f)^2, s_f the signed area of face f (negative for a
%   face whose normal (v1 - v0) x (v2 - v0) points toward the origin, positive for a flipped
%   one) and o_f its original area. A mesh measured against its own signed areas has P = 0.
%
%   Inputs
%     vertices       single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces          int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces    int32, K x V: column v lists the 1-based faces around vertex v (in 1..F),
%                    padded with 0; the first entry below 1 ends a column.
%     originalAreas  single, 1 x F row (an F x 1 column is refused unless F = 1).
%
%   Outputs
%     P              single 1 x 1.
%     G              single 3 x V: column v sums, over the faces its VertexFaces column lists,
%                    -2 (s_f - o_f) times the gradient of the face's unsigned area. That is the
%                    derivative of P for properly oriented faces (s_f <= 0); for flipped faces
%                    the term has the opposite sign. Faces with an area below 1e-7 add nothing.
%
%   The faces-of-vertex table comes from TULM_convertFaces2FacesOfVert in row form, flattened;
%   reshape and transpose it:
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%
%   Errors
%     "Vertices should be 3 dimensional", "Faces should have three vertices",
%     "Vertices and VertexFaces should be the same number!",
%     "Input original areas vector wrong size!!!", "Memory allocation error!"
%     "Four inputs required: vertices, faces, VertexFaces, originalAreas"
%     "originalAreas must be a single matrix (got double)",
%     "faces holds 9 at (2, 5), outside 1..4", "VertexFaces holds 12 at (3, 7), outside 0..10"
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);
%     [P, G] = TULM_computeAreaChangePenaltyGrad(vertices, int32([1; 3; 2]), int32([1 1 1]), ...
%                                                single(0))
%
%   See also TULM_computeAreaChangePenalty, TULM_computeFoldPenaltyGrad.
