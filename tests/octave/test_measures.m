% Areas, neighbour distances, data differences and smoothing in a real Octave: the row and
% column forms as users pass them, ans, messages as users see them, smoothing on a sphere.

%!shared vertices, faces, V, F, vertexNbors, K
%! [vertices, faces] = tulm_icosphere(3);
%! V = int32(size(vertices, 2));
%! F = int32(size(faces, 2));
%! vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
%! K = int32(size(vertexNbors, 1));

%!test
%! % the total takes row form, the per-face areas column form; both near 4*pi on the sphere
%! total = TULM_calculateSurfaceArea(vertices.', faces.');
%! areas = TULM_computeMeshFaceAreas(F, faces, vertices);
%! assert(class(total), 'single');
%! assert(size(total), [1 1]);
%! assert(class(areas), 'single');
%! assert(size(areas), [double(F) 1]);
%! assert(double(total), 4 * pi, 0.1);
%! assert(sum(double(areas)), double(total), 1e-3);
%! assert(all(areas > 0));

%!test
%! tet_v = single([0 0 0; 1 0 0; 0 1 0; 0 0 1]);
%! tet_f = int32([1 3 2; 1 2 4; 1 4 3; 2 3 4]);
%! assert(TULM_computeMeshFaceAreas(int32(4), tet_f.', tet_v.'), single([0.5; 0.5; 0.5; sqrt(3) / 2]));
%! TULM_calculateSurfaceArea(tet_v, tet_f);        % no output requested: the result goes to ans
%! assert(ans, single(1.5) + single(sqrt(3) / 2));
%! assert(TULM_calculateSurfaceArea(tet_v, zeros(0, 3, 'int32')), single(0));
%! assert(size(TULM_computeMeshFaceAreas(int32(0), zeros(3, 0, 'int32'), tet_v.')), [0 1]);

%!test
%! distSq = TULM_computeVertexDistSq2Nbors(K, V, vertexNbors, vertices);
%! assert(class(distSq), 'single');
%! assert(size(distSq), double([K V]));
%! % an independent evaluation: the same three squares, summed in the same order
%! for v = [1 100 642]
%!   for k = find(vertexNbors(:, v) > 0).'
%!     d = vertices(:, v) - vertices(:, vertexNbors(k, v));
%!     assert(distSq(k, v), (d(1) * d(1) + d(2) * d(2)) + d(3) * d(3));
%!   end
%! end
%! assert(all(distSq(vertexNbors == 0) == 0));

%!test
%! diffs = TULM_computeDiffDataVertex2Nbors(int32(2), int32(2), int32(2), int32([2 1; 0 0]), ...
%!                                          single([1 4; 10 30]));
%! assert(size(diffs), [2 2 2]);
%! assert(diffs(:).', single([-3 -20 0 0 3 20 0 0]));
%! data = single(rand(3, V));
%! diffs = TULM_computeDiffDataVertex2Nbors(K, V, int32(3), vertexNbors, data);
%! assert(size(diffs), double([3 K V]));
%! assert(diffs(:, 2, 17), data(:, 17) - data(:, vertexNbors(2, 17)));

%!test
%! % s = 1 on two mutual neighbours one unit apart: w = exp(-1/2)
%! out = TULM_gaussianSmoothVertexData(single([0 0 0; 1 0 0].'), int32([2 1]), single([0 1]), 1);
%! assert(class(out), 'single');
%! assert(out, single([0.377541 0.622459]), 1e-6);
%! assert(TULM_gaussianSmoothVertexData(single([0 0 0; 1 0 0].'), int32([2 1]), single([0 1]), 0), ...
%!        single([0.5 0.5]));

%!test
%! % repeated smoothing of noisy data lowers its variance; a constant field stays constant
%! randn('state', 3);
%! data = single(randn(1, V));
%! constant = 2.5 * ones(4, V, 'single');
%! previous = var(double(data));
%! for step = 1:4
%!   data = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data, 0.01);
%!   constant = TULM_gaussianSmoothVertexData(vertices, vertexNbors, constant, 0.01);
%!   assert(var(double(data)) < 0.8 * previous);
%!   previous = var(double(data));
%! end
%! assert(constant, 2.5 * ones(4, V, 'single'), 4 * eps(single(2.5)));

%!error <TULM_calculateSurfaceArea: Two inputs required. Face matrix and number of vertices, both assumed to be of type int32> TULM_calculateSurfaceArea(vertices.')
%!error <Too many output arguments> [a, b] = TULM_calculateSurfaceArea(vertices.', faces.');
%!error <faces holds 643 at \(1, 2\), outside 1..642> TULM_calculateSurfaceArea(vertices.', int32([1 643 2]))
%!error <TULM_computeMeshFaceAreas: 3 inputs required: numFaces \(int 32\), faces \(int 32 \*\), vertices \(float \*\)> TULM_computeMeshFaceAreas(F, faces)
%!error <numFaces must not be negative \(got -1\)> TULM_computeMeshFaceAreas(int32(-1), faces, vertices)
%!error <vertices must have 3 rows \(got 642 x 3\)> TULM_computeMeshFaceAreas(F, faces, vertices.')
%!error <TULM_computeVertexDistSq2Nbors: 4 inputs required: maxNeighbors \(int 32\), numVerts \(int 32\), vertexNbors \(int 32 \*\), vertices \(float \*\)> TULM_computeVertexDistSq2Nbors(K, V, vertexNbors)
%!error <vertexNbors must be at least 6 x 642 \(got 642 x 6\)> TULM_computeVertexDistSq2Nbors(K, V, vertexNbors.', vertices)
%!error <TULM_computeDiffDataVertex2Nbors: 5 inputs required: maxNeighbors \(int 32\), numVerts \(int 32\), numData \(int 32\), vertexNbors \(int 32 \*\), data \(float \*\)> TULM_computeDiffDataVertex2Nbors(K, V, int32(1), vertexNbors)
%!error <numData must not be negative \(got -2\)> TULM_computeDiffDataVertex2Nbors(K, V, int32(-2), vertexNbors, single(rand(1, V)))
%!error <TULM_gaussianSmoothVertexData: Four inputs required: vertices \(single, 3 x V\), vertexNbors \(int32, K x V\), data \(single, D x V\), s \(numeric scalar\)> TULM_gaussianSmoothVertexData(vertices, vertexNbors, single(rand(1, V)))
%!error <Vertices and vertexNbors should have the same size\[2\]!> TULM_gaussianSmoothVertexData(vertices, vertexNbors(:, 1:10), single(rand(1, V)), 1)
%!error <Number of dimensions should be 3!> TULM_gaussianSmoothVertexData(vertices([1 2 3 3], :), vertexNbors, single(rand(1, V)), 1)
%!error <data not right size!> TULM_gaussianSmoothVertexData(vertices, vertexNbors, single(rand(1, 10)), 1)
%!error <data must be a single matrix \(got double\)> TULM_gaussianSmoothVertexData(vertices, vertexNbors, rand(1, V), 1)

%!test
%! for name = {'TULM_calculateSurfaceArea', 'TULM_computeMeshFaceAreas', ...
%!             'TULM_computeVertexDistSq2Nbors', 'TULM_computeDiffDataVertex2Nbors', ...
%!             'TULM_gaussianSmoothVertexData'}
%!   assert(! isempty(strfind(get_help_text(name{1}), name{1})));
%! end
