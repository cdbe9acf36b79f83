function bench_location()
% BENCH_LOCATION  Point location plug-ins against CGAL's AABB tree on the same data.
%   The vertices of the icosphere subdivided 7 times (163842), under a small random rotation
%   with a fixed seed, are located on the unrotated icosphere: seeds from
%   TULM_findNearestVertex started at the vertex of the same index, then TULM_findFaceAux.
%   The alternative is the face hit by the ray from the origin through each point, from an
%   AABB tree (bench/location/bench_location_aabb, fed the same mesh and points through a
%   temporary file). Prints points per second (medians of several runs), the tree build, the
%   ratios and the agreement of the faces.
  runs = 5;
  here = fileparts(mfilename('fullpath'));
  [vertices, faces] = tulm_icosphere(7);
  V = int32(size(vertices, 2));
  N = double(V);
  vertexNbors = reshape(TULM_convertFaces2VertNbors(faces.', V), V, []).';
  VertexFaces = reshape(TULM_convertFaces2FacesOfVert(faces.', V), V, []).';
  rand('state', 7);
  axis = rand(3, 1) - 0.5;
  axis = axis / norm(axis);
  angle = 0.005 + 0.01 * rand();
  K = [0 -axis(3) axis(2); axis(3) 0 -axis(1); -axis(2) axis(1) 0];
  points = single((eye(3) + sin(angle) * K + (1 - cos(angle)) * K * K) * double(vertices));
  start = int32(1:N);

  t_nearest = zeros(1, runs);
  t_face = zeros(1, runs);
  for r = 1:runs
    tic;
    seeds = TULM_findNearestVertex(points, vertices, vertexNbors, start);
    t_nearest(r) = toc;
    tic;
    [face, corner] = TULM_findFaceAux(points, vertices, faces, vertexNbors, VertexFaces, seeds);
    t_face(r) = toc;
  end
  rate_nearest = N / median(t_nearest);
  rate_face = N / median(t_face);
  printf('%d query points (icosphere subdivided 7 times, rotated %.4f rad), medians of %d runs\n', ...
         N, angle, runs);
  printf('  TULM_findNearestVertex   %10.0f points/s\n', rate_nearest);
  printf('  TULM_findFaceAux         %10.0f points/s\n', rate_face);

  program = fullfile(here, '..', 'build', 'bench', 'bench_location_aabb');
  if ! exist(program, 'file')
    printf('  (no %s: build with make bench to compare with the AABB tree)\n', program);
    return;
  end
  data = [tempname() '.bin'];
  result = [tempname() '.bin'];
  fid = fopen(data, 'wb');
  fwrite(fid, int32([N size(faces, 2) N]), 'int32');
  fwrite(fid, vertices, 'single');
  fwrite(fid, faces, 'int32');
  fwrite(fid, points, 'single');
  fclose(fid);
  status = system(sprintf('"%s" "%s" "%s"', program, data, result));
  delete(data);
  if status != 0
    printf('  bench_location_aabb failed\n');
    return;
  end
  fid = fopen(result, 'rb');
  seconds = fread(fid, 2, 'double');
  tree_face = fread(fid, N, 'int32=>int32').';
  fclose(fid);
  delete(result);
  rate_tree = N / seconds(2);
  printf('  CGAL AABB tree, ray query %9.0f points/s (tree build %.1f ms, not included)\n', ...
         rate_tree, 1000 * seconds(1));
  printf('  ratio TULM_findFaceAux / AABB query          %6.2f\n', rate_face / rate_tree);
  printf('  ratio both plug-ins in turn / AABB query     %6.2f\n', ...
         1 / (1 / rate_nearest + 1 / rate_face) / rate_tree);

  % Strictly inside: every weight of the ray point in the tree's face above 0.001. The walk's
  % same-side test admits points up to about 1e-4 (in the cosine) beyond an edge, and in that
  % band either neighbouring face is the toolbox's answer.
  hit = tree_face > 0;
  A = double(vertices(:, faces(1, tree_face(hit))));
  B = double(vertices(:, faces(2, tree_face(hit))));
  C = double(vertices(:, faces(3, tree_face(hit))));
  P = double(points(:, hit));
  w = [dot(P, cross(B, C)); dot(P, cross(C, A)); dot(P, cross(A, B))];
  w = w ./ sum(w, 1);
  strict = false(1, N);
  strict(hit) = min(w, [], 1) > 1e-3;
  same = face == tree_face;
  printf('  agreement on %d points strictly inside a face: %.4f%% (%d differ)\n', ...
         sum(strict), 100 * mean(same(strict)), sum(strict & ! same));
  printf('  agreement on all points: %.4f%% (%d differ)\n', ...
         100 * mean(same), sum(! same));
  printf('  nearest corner equals the seed for %.4f%% of the points\n', 100 * mean(corner == seeds));
end
