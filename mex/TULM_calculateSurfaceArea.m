% TULM_calculateSurfaceArea  Total surface area of a triangle mesh.
%
%   area = TULM_calculateSurfaceArea(vertices, faces)
%
%   Sums the areas of all faces, in face order, into a single-precision total. A face's area
%   comes from the squared lengths and the dot product of its two edges at corner 1; a
%   nearly degenerate face whose computed squared area falls below 0 counts as 0.
%
%   Inputs (row form, unlike the other measures)
%     vertices  single, V x 3: one row of x, y, z per vertex. Only the first three columns
%               are read.
%     faces     int32, F x 3: 1-based corners of each triangle, each in 1..V. Only the first
%               three columns are read.
%
%   Output
%     area      single, 1 x 1. A mesh without faces has area 0.
%
%   Errors
%     "Two inputs required. Face matrix and number of vertices, both assumed to be of type int32"
%       (the text names other inputs; it is kept as callers know it)
%     "Too many output arguments"
%     "vertices must be a single matrix (got double)", "faces holds 9 at (2, 3), outside 1..4",
%     "faces must be at least 2 x 3 (got 2 x 2)", ...
%
%   Example
%     [vertices, faces] = tulm_icosphere(3);        % column form: 3 x V, 3 x F
%     area = TULM_calculateSurfaceArea(vertices.', faces.')   % a little below 4*pi
%
%   See also TULM_computeMeshFaceAreas.
