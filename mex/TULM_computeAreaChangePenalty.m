% TULM_computeAreaChangePenalty  Squared change of signed face areas against original areas.
%
%   P = TULM_computeAreaChangePenalty(vertices, faces, VertexFaces, originalAreas)
%
%   P is the sum over all faces of (s_f - o_f)^2, s_f the signed area of face f (negative for a
%   face whose normal (v1 - v0) x (v2 - v0) points toward the origin, positive for a flipped
%   one) and o_f its original area.
%
%   Inputs
%     vertices       single, 3 x V: one column per vertex (x; y; z), mesh around the origin.
%     faces          int32, 3 x F: 1-based corners v0; v1; v2 of each face, each in 1..V.
%     VertexFaces    int32, K x V: only its column count is used (it must be V).
%     originalAreas  single, 1 x F row (an F x 1 column is refused unless F = 1).
%
%   Output
%     P              single 1 x 1.
%
%   Errors
%     "Vertices should be 3 dimensional", "Faces should have three vertices",
%     "Vertices and VertexFaces should be the same number!",
%     "Input original areas vector wrong size!!!", "Memory allocation error!"
%     "Four inputs required: vertices, faces, VertexFaces, originalAreas"
%     "originalAreas must be a single matrix (got double)", "faces holds 9 at (2, 5), outside 1..4"
%
%   Example
%     vertices = single([1 0 0; 0 1 0; 0 0 1]);
%     P = TULM_computeAreaChangePenalty(vertices, int32([1; 3; 2]), int32([1 1 1]), single(0))
%
%   See also TULM_computeAreaChangePenaltyGrad.
