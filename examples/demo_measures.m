function [noisy, smoothed] = demo_measures(mesh)
% DEMO_MEASURES  Areas, neighbour distances, smoothing and ring neighbourhoods on the mesh
%   that demo_connectivity returns (column form: vertices 3 x V, faces 3 x F, vertexNbors K x V).
  vertices = mesh.vertices;
  faces = mesh.faces;
  vertexNbors = mesh.vertexNbors;
  V = int32(size(vertices, 2));
  F = int32(size(faces, 2));
  K = int32(size(vertexNbors, 1));
  printf('== Measures and neighbourhoods\n');

  % The total takes the row form, the per-face areas the column form.
  tic;
  total = TULM_calculateSurfaceArea(vertices.', faces.');
  t_total = toc;
  tic;
  areas = TULM_computeMeshFaceAreas(F, faces, vertices);
  t_areas = toc;
  printf('TULM_calculateSurfaceArea:      %7.2f ms  area %.6f, 4*pi = %.6f (%.4f%% below)\n', ...
         1000 * t_total, total, 4 * pi, 100 * (1 - double(total) / (4 * pi)));
  printf('TULM_computeMeshFaceAreas:      %7.2f ms  face areas min %.3g, mean %.3g, max %.3g, ', ...
         1000 * t_areas, min(areas), mean(double(areas)), max(areas));
  printf('max/min %.3f\n', max(areas) / min(areas));

  tic;
  distSq = TULM_computeVertexDistSq2Nbors(K, V, vertexNbors, vertices);
  t_dist = toc;
  edges = sqrt(double(distSq(vertexNbors > 0)));
  printf('TULM_computeVertexDistSq2Nbors: %7.2f ms  edge length min %.4f, mean %.4f, max %.4f\n', ...
         1000 * t_dist, min(edges), mean(edges), max(edges));

  % A smooth pattern under noise, smoothed a few times with s about the squared edge length.
  s = mean(edges) ^ 2;
  randn('state', 1);
  xyz = double(vertices);
  pattern = sin(3 * atan2(xyz(2, :), xyz(1, :))) .* sqrt(1 - xyz(3, :) .^ 2);
  data = single(pattern + 0.5 * randn(1, V));
  noisy = data;
  printf('TULM_gaussianSmoothVertexData (s = %.2g): variance %.5f', s, var(double(data)));
  tic;
  for step = 1:5
    data = TULM_gaussianSmoothVertexData(vertices, vertexNbors, data, s);
    printf(' -> %.5f', var(double(data)));
  end
  printf('  (%.2f ms per step)\n', 1000 * toc / 5);
  smoothed = data;
  tic;
  diffs = TULM_computeDiffDataVertex2Nbors(K, V, int32(1), vertexNbors, data);
  t_diff = toc;
  printf('TULM_computeDiffDataVertex2Nbors: %5.2f ms  largest |difference| to a neighbour %.4f\n', ...
         1000 * t_diff, max(abs(diffs(:))));

  v = int32(100);
  for radius = int32([2 3])
    tic;
    ring = TULM_findNeighborhoodGivenRadius(K, V, v, radius, vertexNbors);
    printf('TULM_findNeighborhoodGivenRadius: %5.2f ms  vertex %d, radius %d: %d vertices\n', ...
           1000 * toc, v, radius, numel(ring));
  end
  printf('\n');
end
