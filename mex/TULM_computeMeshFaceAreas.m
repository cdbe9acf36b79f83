% TULM_computeMeshFaceAreas  Area of every face of a triangle mesh.
%
%   areas = TULM_computeMeshFaceAreas(numFaces, faces, vertices)
%
%   Computes each face's area as half the length of the cross product of its two edges at
%   corner 1, in single precision (the square root in double).
%
%   Inputs (column form)
%     numFaces  int32 scalar: the number of faces F to measure, at least 0.
%     faces     int32, 3 x F (or more columns; the first F are read): 1-based corners of
%               each triangle, each in 1..V.
%     vertices  single, 3 x V: one column of x, y, z per vertex.
%
%   Output
%     areas     single, F x 1, in face order.
%
%   Errors
%     "3 inputs required: numFaces (int 32), faces (int 32 *), vertices (float *)"
%     "Too many output arguments"
%     "numFaces must not be negative (got -1)", "faces must be at least 3 x 5 (got 3 x 4)",
%     "vertices must have 3 rows (got 12 x 3)", "faces holds 13 at (2, 5), outside 1..12", ...
%
%   Example
%     [vertices, faces] = tulm_icosphere(2);
%     areas = TULM_computeMeshFaceAreas(int32(size(faces, 2)), faces, vertices);
%     [min(areas) max(areas) sum(double(areas))]
%
%   See also TULM_calculateSurfaceArea.
