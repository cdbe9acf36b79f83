% TULM_findFaceAux  Face of a spherical mesh into which each point projects from the origin.
%
%   [faceIdx, nearestVertex] = TULM_findFaceAux(points, vertices, faces, vertexNbors, ...
%                                               VertexFaces, seedVertices)
%
%   For each query point, walks the mesh from its seed vertex toward the point (always to the
%   unvisited neighbour nearest to the point, within R/4 * (163842/V)^(1/4) of it, R being the
%   length of the first vertex) and tests the faces around every vertex it enters, until it
%   finds the face that the line from the origin through the point crosses. The mesh should
%   be closed and centred at the origin, and each seed should lie near its point (for
%   instance the result of TULM_findNearestVertex).
%
%   Inputs
%     points        single, 3 x N: one query point per column.
%     vertices      single, 3 x V: one vertex per column.
%     faces         int32, 3 x F: 1-based corners of each triangle, one face per column.
%     vertexNbors   int32, Kn x V: 1-based neighbours of each vertex, padded with 0.
%     VertexFaces   int32, Kf x V: 1-based faces around each vertex, padded with 0.
%     seedVertices  int32, 1 x N: 1-based start vertex of each point.
%
%   The table builders return the tables in row form, flattened; pass them as
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%
%   Outputs
%     faceIdx        int32, 1 x N: 1-based face of each point.
%     nearestVertex  int32, 1 x N: 1-based corner of that face nearest to the point (ties go
%                    to the corner listed first in faces).
%
%   A point within 1e-5 of its seed gets the seed and the seed's first listed face at once.
%   When the face found lies too far from the vertex the walk stands on, or the walk runs out
%   of vertices, it starts again from the seed with a looser test (ten times looser at each
%   restart). After 100000 vertex entries for one point it gives up: the point gets its seed
%   and the seed's first listed face, and after the last point the count of such points is
%   printed as "<count> number of vertices exceed the max number of trials".
%
%   The face returned is not always the one the ray from the origin through the point
%   crosses. The face test admits points slightly beyond an edge (within its same-side
%   tolerance), so a point near the edge two faces share can get the neighbour of the face it
%   projects into, and more readily after restarts have loosened the test. On convex-hull
%   spheres of 1e3 to 4e5 random points this happened for 32 to 48 of every 100,000 points,
%   and the barycentric coordinates of the projection in the returned face went down to -0.4
%   on skinny faces. Where containment matters, check it as the example does: compute the
%   barycentric coordinates of the central projection in the returned face and test them
%   against 0.
%
%   Errors
%     "Six inputs required: points, vertices, faces, vertexNbors, VertexFaces, seedVertices (got 5)"
%     "Point should be three dimensional!"
%     "Inconsistent number of vertices!"
%     "Numof points and number of seedVertices should be the same!"
%     "points must be a single matrix (got double)", "faces must have 3 rows (got 4 x 20)",
%     "seedVertices holds 0 at (1, 3), outside 1..642", "VertexFaces holds -1 at (2, 7),
%     outside 0..1280", ...
%     "Ran out of memory!"
%   A face with a zero normal raises the warning "Normal equal to zero! But should be ok."
%
%   Example
%     [vertices, faces] = tulm_icosphere(3);                  % from the toolbox's examples
%     V = int32(size(vertices, 2));
%     vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%     VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
%     points = single(1.1 * [0.6 0; 0.48 0.6; 0.64 0.8]);
%     seeds = TULM_findNearestVertex(points, vertices, vertexNbors, int32([1 1]));
%     [face, corner] = TULM_findFaceAux(points, vertices, faces, vertexNbors, VertexFaces, seeds)
%     % containment: barycentric coordinates of each point's central projection in its face
%     A = double(vertices(:, faces(1, face)));
%     B = double(vertices(:, faces(2, face)));
%     C = double(vertices(:, faces(3, face)));
%     p = double(points);
%     n = cross(B - A, C - A);                  % normal of each returned face
%     q = p .* (dot(A, n) ./ dot(p, n));        % where the ray through p meets its plane
%     wA = dot(cross(C - B, q - B), n) ./ dot(n, n);
%     wB = dot(cross(A - C, q - C), n) ./ dot(n, n);
%     wC = dot(cross(B - A, q - A), n) ./ dot(n, n);
%     contained = wA >= 0 & wB >= 0 & wC >= 0
%
%   See also TULM_findNearestVertex, TULM_convertFaces2VertNbors, TULM_convertFaces2FacesOfVert.
